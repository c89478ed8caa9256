#include "replay/replayline.h"

#include "cache/eventqueue.h"

namespace {

struct ActionName {
    std::string_view name;
    uint32_t action;
};

constexpr ActionName kActions[] = {
    {"MODIFIED", FS_ACTION_MODIFIED}, {"ADDED", FS_ACTION_ADDED},
    {"REMOVED", FS_ACTION_REMOVED},   {"OLD_NAME", FS_ACTION_OLD_NAME},
    {"NEW_NAME", FS_ACTION_NEW_NAME},
};

constexpr std::string_view kPrefix = "FS_ACTION_";

}  // namespace

ReplayLine parseReplayLine(const char* data, size_t size) {
    ReplayLine result;
    std::string_view line(data ? data : "", data ? size : 0);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    if (line.empty() || line.front() == '#')
        return result;
    result.kind = ReplayLineKind::Bad;
    const size_t tab = line.find('\t');
    if (tab == std::string_view::npos)
        return result;
    std::string_view name = line.substr(0, tab);
    if (name.substr(0, kPrefix.size()) == kPrefix)
        name.remove_prefix(kPrefix.size());
    const std::string_view path = line.substr(tab + 1);
    if (path.empty() || path.find('\0') != std::string_view::npos)
        return result;
    for (const ActionName& candidate : kActions) {
        if (candidate.name == name) {
            result.kind = ReplayLineKind::Event;
            result.action = candidate.action;
            result.path = path;
            break;
        }
    }
    return result;
}
