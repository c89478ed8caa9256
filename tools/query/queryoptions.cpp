#include "queryoptions.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <sstream>

#include "text/utf8.h"

namespace {

// Most milliseconds --wait accepts: a day.
constexpr unsigned kMaxWaitMs = 86400000;

std::wstring wide(const std::string& text) {
    return utf8::toWide(text);
}

}  // namespace

ParsedOptions parseQueryOptions(const std::vector<std::string>& args, FILE* out, FILE* err) {
    CLI::App app{
        "Reads the cache of a vigil monitor: counts, directory listings, files by name "
        "pattern or by criteria over the files table. Exit code 0 when something was "
        "found, 1 when nothing was, 2 on a usage error or an unusable cache, 3 when the "
        "monitor held the cache longer than the wait.",
        "vigil-query"};
    app.require_subcommand(1, 1);

    std::string workingDirectory, directoriesTable, filesTable;
    app.add_option("WORKDIR", workingDirectory, "the monitor's working directory")->required();
    app.add_option("DIRS", directoriesTable, "name of the directories table")->required();
    app.add_option("FILES", filesTable, "name of the files table")->required();
    unsigned waitMs = 5000;
    app.add_option("--wait", waitMs, "milliseconds to wait for the monitor to let go of the cache")
        ->check(CLI::Range(0u, kMaxWaitMs));
    bool json = false, count = false, nul = false;
    // The output flags are given to the commands as well: a command would read "-0" after it
    // as a pattern, not as its parent's flag.
    auto addOutputFlags = [&](CLI::App* to) {
        to->add_flag("--json", json, "one JSON object a result");
        to->add_flag("--count", count, "only the number of results");
        to->add_flag("-0,--null", nul, "end each result with NUL, for xargs -0");
    };
    addOutputFlags(&app);

    CLI::App* stats = app.add_subcommand("stats", "directories, files, sizes, the monitor");
    CLI::App* ls = app.add_subcommand("ls", "the entries of one directory: kind, mode, size, name");
    std::string lsPath;
    ls->add_option("PATH", lsPath, "the directory")->required();

    std::string under;
    bool ignoreCase = false;
    CLI::App* find = app.add_subcommand("find", "files whose name matches any pattern");
    std::vector<std::string> patterns;
    find->add_option("PATTERN", patterns, "name pattern: * ? and {a,b}")->required();
    CLI::App* where = app.add_subcommand("where", "files whose record satisfies the criteria");
    std::string criteria;
    where
        ->add_option("CRITERIA", criteria,
                     "criteria over FILENAME, SHORTFILENAME, ATTR, SIZE, PATHID, MD5, CRC32, Q32, "
                     "e.g. '[SIZE] > 1000000 && [FILENAME] == \"*.log\"'")
        ->required();
    std::vector<CLI::Option*> underOptions;
    for (CLI::App* search : {find, where}) {
        underOptions.push_back(
            search->add_option("--under", under, "only files below this directory"));
        search->add_flag("-i,--ignore-case", ignoreCase, "compare names without regard to case");
    }
    // The output options may also follow the command.
    for (CLI::App* command : {stats, ls, find, where}) {
        command->fallthrough();
        addOutputFlags(command);
    }

    ParsedOptions parsed;
    try {
        std::vector<std::string> reversed(args.rbegin(), args.rend() - (args.empty() ? 0 : 1));
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        std::ostringstream outText, errText;
        const int code = app.exit(e, outText, errText);
        std::fputs(outText.str().c_str(), out);
        std::fputs(errText.str().c_str(), err);
        parsed.exitCode = code == 0 ? queryexit::kFound : queryexit::kError;
        return parsed;
    }

    if (json + count + nul > 1) {
        std::fputs("--json, --count and -0 exclude each other\n", err);
        return parsed;
    }

    QueryOptions options;
    options.workingDirectory = wide(workingDirectory);
    options.directoriesTable = wide(directoriesTable);
    options.filesTable = wide(filesTable);
    options.waitMs = waitMs;
    options.output = json ? QueryOutput::Json : count ? QueryOutput::Count : QueryOutput::Lines;
    options.nulTerminated = nul;
    options.ignoreCase = ignoreCase;
    options.under = std::any_of(underOptions.begin(), underOptions.end(),
                                [](const CLI::Option* option) { return option->count() > 0; });
    options.path = wide(under);
    if (stats->parsed()) {
        options.command = QueryCommand::Stats;
    } else if (ls->parsed()) {
        options.command = QueryCommand::Ls;
        options.path = wide(lsPath);
    } else if (find->parsed()) {
        options.command = QueryCommand::Find;
        for (const std::string& pattern : patterns)
            options.patterns.push_back(wide(pattern));
    } else {
        options.command = QueryCommand::Where;
        options.criteria = wide(criteria);
    }
    parsed.options = std::move(options);
    parsed.exitCode = queryexit::kFound;
    return parsed;
}
