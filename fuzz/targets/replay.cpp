// The event lines of a replay file, as the replay provider reads them.
//
// Input: the text of a replay file; each line (up to a line feed) is parsed on its own.
//
// Checked: an event has one of the five actions and a path that lies inside its line (before a
// final carriage return), is not empty and holds no zero byte; a blank line or a "#" comment is
// skipped; any other line is bad.
#include <string_view>

#include "cache/eventqueue.h"
#include "fuzzentry.h"
#include "fuzzsupport.h"
#include "replay/replayline.h"

namespace {

void checkLine(std::string_view line) {
    const ReplayLine parsed = parseReplayLine(line.data(), line.size());
    std::string_view body = line;
    if (!body.empty() && body.back() == '\r')
        body.remove_suffix(1);
    if (body.empty() || body.front() == '#') {
        FUZZ_CHECK(parsed.kind == ReplayLineKind::Skip);
        return;
    }
    FUZZ_CHECK(parsed.kind != ReplayLineKind::Skip);
    if (parsed.kind != ReplayLineKind::Event)
        return;
    FUZZ_CHECK(parsed.action == FS_ACTION_ADDED || parsed.action == FS_ACTION_REMOVED ||
               parsed.action == FS_ACTION_MODIFIED || parsed.action == FS_ACTION_OLD_NAME ||
               parsed.action == FS_ACTION_NEW_NAME);
    FUZZ_CHECK(!parsed.path.empty() && parsed.path.data() >= line.data() &&
               parsed.path.data() + parsed.path.size() <= body.data() + body.size());
    FUZZ_CHECK(parsed.path.find('\0') == std::string_view::npos);
}

}  // namespace

VIGIL_FUZZ_ENTRY(replay) {
    fuzz::ByteReader reader(data, size);
    while (reader.remaining() > 0)
        checkLine(reader.line());
}
