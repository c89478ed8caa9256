// The command line of vigil-query:
//   vigil-query WORKDIR DIRS FILES [--wait MS] [--json | --count | -0] COMMAND
// with COMMAND one of
//   stats                    counts, sizes and whether a monitor runs
//   ls PATH                  the entries of one directory, as the cache holds them
//   find PATTERN... [--under PATH] [-i]
//   where CRITERIA [--under PATH] [-i]
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

// Exit codes, as grep has them.
namespace queryexit {
inline constexpr int kFound = 0;
inline constexpr int kNothingFound = 1;
inline constexpr int kError = 2;  // usage, no such cache, damaged cache
inline constexpr int kBusy = 3;   // the monitor held the cache longer than the wait
}  // namespace queryexit

enum class QueryCommand { Stats, Ls, Find, Where };

enum class QueryOutput {
    Lines,  // one result a line (-0: ended by a NUL byte instead)
    Json,   // one JSON object a line
    Count,  // only the number of results
};

struct QueryOptions {
    std::wstring workingDirectory;
    std::wstring directoriesTable;
    std::wstring filesTable;
    QueryCommand command = QueryCommand::Stats;
    // ls: the directory; find, where: the subtree given by --under.
    std::wstring path;
    bool under = false;
    std::vector<std::wstring> patterns;
    std::wstring criteria;
    bool ignoreCase = false;
    QueryOutput output = QueryOutput::Lines;
    bool nulTerminated = false;
    unsigned waitMs = 5000;
};

// Reads the arguments (UTF-8, the program's name first). On a usage error, or when help was
// asked for, writes the text to out or err and gives the exit code instead of options.
struct ParsedOptions {
    std::optional<QueryOptions> options;
    int exitCode = queryexit::kError;
};
ParsedOptions parseQueryOptions(const std::vector<std::string>& args, FILE* out, FILE* err);
