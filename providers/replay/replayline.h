// One line of a replay file: "ACTION<TAB>PATH", the action one of ADDED, REMOVED, MODIFIED,
// OLD_NAME, NEW_NAME (optionally written with the prefix FS_ACTION_), the path UTF-8 text up to
// the end of the line. Blank lines and lines starting with "#" are skipped; a CR before the end
// of the line is ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

enum class ReplayLineKind { Event, Skip, Bad };

struct ReplayLine {
    ReplayLineKind kind = ReplayLineKind::Skip;
    uint32_t action = 0;
    std::string_view path;  // points into the parsed text
};

// Parses one line, data[0..size) without its line feed. A pure function of its input.
ReplayLine parseReplayLine(const char* data, size_t size);
