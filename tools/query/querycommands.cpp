#include "querycommands.h"

#include <cinttypes>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <system_error>

#include "cache/cacheschema.h"
#include "cachereader.h"
#include "log/rklog.h"
#include "querypatterns.h"
#include "queryresults.h"
#include "querysystem.h"
#include "syntaxanalyzer.h"
#include "system/platform.h"
#include "text/pathhelper.h"
#include "text/utf8.h"
#include "vigil.h"

namespace {

int fail(FILE* err, const std::string& reason, int code = queryexit::kError) {
    std::fprintf(err, "vigil-query: %s\n", reason.c_str());
    return code;
}

// Whether names compare with regard to case: as the platform's file systems do, unless the user
// asked to ignore it.
bool namesCaseSensitive(const QueryOptions& options) {
    return !options.ignoreCase && platform::nameCaseSensitive(false);
}

// Parses criteria against an empty files record, so that a mistake is reported with the
// language's own message before the cache is touched. Nothing when it parses to a condition.
std::optional<std::string> criteriaError(const std::wstring& criteria, bool caseSensitive) {
    FieldList record;
    for (const cacheschema::FieldDef& field : cacheschema::kFileFields)
        record.addField(field.name, field.type);
    std::string message;
    getRkLogFs()->setListener([&message](const char*, const std::string& text) {
        if (message.empty())
            message = text;
    });
    SyntaxAnalyzer analyzer;
    SyntaxValue result;
    const bool failed = analyzer.parse(criteria.c_str(), &record, nullptr, result, caseSensitive);
    getRkLogFs()->setListener({});
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.pop_back();
    if (failed)
        return "criteria: " + (message.empty() ? std::string("cannot be read") : message);
    if (result.type != SyntaxValue::NUMERIC)
        return std::string("criteria: they give a text, not a condition");
    return std::nullopt;
}

// The absolute form of a path the user gave, without a trailing separator below the root.
std::optional<std::wstring> absolutePath(const std::wstring& path) {
    std::optional<std::wstring> real = PathHelper::realPath(path.c_str());
    if (real && real->size() > 1 && real->back() == platform::kPathSeparator &&
        (*real)[real->size() - 2] != L':') {
        real->pop_back();
    }
    return real;
}

// The directory id of a path the user gave, or the exit code with its message written.
std::optional<uint32_t> directoryOf(CacheReader& reader, const std::wstring& path, FILE* err,
                                    int& code) {
    std::optional<std::wstring> absolute = absolutePath(path);
    std::optional<uint32_t> id = absolute ? reader.findDirectory(*absolute) : std::nullopt;
    if (reader.damaged()) {
        code = fail(err, reader.damage());
    } else if (!id) {
        code = fail(err, "not in the cache: " + utf8::fromWide(absolute.value_or(path)),
                    queryexit::kNothingFound);
    }
    return id;
}

FoundEntry fileEntry(const std::string& directory, RecordSet& record) {
    FoundEntry entry;
    entry.name = utf8Field(record, cacheschema::kFileName);
    entry.path = joinUtf8(directory, entry.name);
    entry.attr = record.getUInt32(cacheschema::kAttr);
    entry.size = record.getUInt64(cacheschema::kSize);
    entry.kind = kindOfFile(entry.attr);
    return entry;
}

// Lets the cache go, then prints the results, or the damage that makes them incomplete.
int finish(CacheReader& reader, QueryResults& results, FILE* out, FILE* err) {
    reader.close();
    if (reader.damaged())
        return fail(err, reader.damage());
    return results.print(out) > 0 ? queryexit::kFound : queryexit::kNothingFound;
}

int runStats(CacheReader& reader, const QueryOptions& options, FILE* out, FILE* err) {
    uint64_t directories = 0, files = 0, size = 0, onDisk = 0;
    reader.forEach(reader.directories(), nullptr, true, [&](RecordSet&) { ++directories; });
    reader.forEach(reader.files(), nullptr, true, [&](RecordSet& record) {
        ++files;
        size += record.getUInt64(cacheschema::kSize);
    });
    if (reader.damaged())
        return fail(err, reader.damage());
    for (const std::wstring& path : reader.cacheFiles()) {
        std::error_code ec;
        const uintmax_t bytes = std::filesystem::file_size(std::filesystem::path(path), ec);
        if (!ec)
            onDisk += bytes;
    }
    // The process-ID file holds the monitor's process id, 4 bytes little-endian.
    std::optional<uint32_t> pid;
    std::ifstream pidFile(
        std::filesystem::path(PathHelper::joinPath(reader.cachePath(), kPidFileName)),
        std::ios::binary);
    unsigned char bytes[4];
    if (pidFile.read(reinterpret_cast<char*>(bytes), sizeof bytes))
        pid = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    const bool running = pid && querysystem::processRunning(*pid);
    reader.close();

    if (options.output == QueryOutput::Json) {
        nlohmann::ordered_json line;
        line["cache"] = utf8::fromWide(reader.cachePath());
        line["directories"] = directories;
        line["files"] = files;
        line["size"] = size;
        line["cacheBytes"] = onDisk;
        line["monitorRunning"] = running;
        line["monitorPid"] = running ? nlohmann::ordered_json(*pid) : nullptr;
        std::fprintf(out, "%s\n",
                     line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
        return queryexit::kFound;
    }
    std::string monitor = "not running";
    if (running)
        monitor = "running (pid " + std::to_string(*pid) + ")";
    else if (pid)
        monitor += " (mon_proc.id names pid " + std::to_string(*pid) + ", which has ended)";
    std::fprintf(out,
                 "cache:        %s\n"
                 "directories:  %" PRIu64
                 "\n"
                 "files:        %" PRIu64
                 "\n"
                 "total size:   %" PRIu64
                 " bytes\n"
                 "cache files:  %" PRIu64
                 " bytes on disk\n"
                 "monitor:      %s\n",
                 utf8::fromWide(reader.cachePath()).c_str(), directories, files, size, onDisk,
                 monitor.c_str());
    return queryexit::kFound;
}

int runLs(CacheReader& reader, const QueryOptions& options, FILE* out, FILE* err) {
    int code = queryexit::kFound;
    const std::optional<uint32_t> id = directoryOf(reader, options.path, err, code);
    if (!id)
        return code;
    const std::string* directory = reader.directoryPath(*id);
    if (directory == nullptr)
        return fail(err, reader.damage());
    const std::string base = *directory;
    QueryResults results(options.output, options.nulTerminated, true);
    reader.forChildDirectories(*id, [&](RecordSet& record) {
        FoundEntry entry;
        entry.kind = FoundEntry::Kind::Directory;
        entry.name = utf8Field(record, cacheschema::kPathName);
        entry.path = joinUtf8(base, entry.name);
        results.add(entry);
    });
    reader.forFiles(*id, [&](RecordSet& record) { results.add(fileEntry(base, record)); });
    return finish(reader, results, out, err);
}

// find and where: the files for which criteria hold, in the subtree of --under when given.
int runSearch(CacheReader& reader, const QueryOptions& options, const std::wstring& criteria,
              FILE* out, FILE* err) {
    std::optional<std::unordered_set<uint32_t>> subtree;
    if (options.under) {
        int code = queryexit::kFound;
        const std::optional<uint32_t> id = directoryOf(reader, options.path, err, code);
        if (!id)
            return code;
        subtree = reader.subtree(*id);
    }
    QueryResults results(options.output, options.nulTerminated, false);
    CriteriaEvaluator evaluator(criteria.c_str());
    FoundEntry entry;
    reader.forEach(reader.files(), &evaluator, namesCaseSensitive(options), [&](RecordSet& record) {
        const uint32_t pathId = record.getUInt32(cacheschema::kPathId);
        if (subtree && subtree->count(pathId) == 0)
            return;
        // Also with --count: a file whose directory has no record is damage, not a result.
        const std::string* directory = reader.directoryPath(pathId);
        if (directory == nullptr)
            return;
        if (results.wantsEntries()) {
            entry.path = joinUtf8(*directory, utf8Field(record, cacheschema::kFileName));
            entry.attr = record.getUInt32(cacheschema::kAttr);
            entry.size = record.getUInt64(cacheschema::kSize);
            entry.kind = kindOfFile(entry.attr);
        }
        results.add(entry);
    });
    return finish(reader, results, out, err);
}

}  // namespace

int runQuery(const QueryOptions& options, FILE* out, FILE* err) {
    // The log stays silent unless VIGIL_LOG asks for it: the tool reports in its own words.
    getRkLogFs()->setDefaultFile(L"off");

    // What can be refused without the cache is refused first.
    std::wstring criteria;
    if (options.command == QueryCommand::Find) {
        std::string reason;
        std::optional<std::wstring> text =
            querypatterns::nameCriteria(options.patterns, namesCaseSensitive(options), reason);
        if (!text)
            return fail(err, reason);
        criteria = std::move(*text);
    } else if (options.command == QueryCommand::Where) {
        criteria = options.criteria;
        // Blanks at the end would make the language expect another operator.
        while (!criteria.empty() && criteria.back() == L' ')
            criteria.pop_back();
    }
    if (options.command == QueryCommand::Find || options.command == QueryCommand::Where) {
        if (std::optional<std::string> error =
                criteriaError(criteria, namesCaseSensitive(options))) {
            return fail(err, *error);
        }
    }
    if ((options.command == QueryCommand::Ls || options.under) && options.path.empty())
        return fail(err, "an empty path names no directory");

    CacheReader reader(options.workingDirectory, options.directoriesTable, options.filesTable);
    std::string reason;
    switch (reader.open(options.waitMs, reason)) {
        case CacheReader::Opened::Busy:
            return fail(err, reason, queryexit::kBusy);
        case CacheReader::Opened::Unusable:
            return fail(err, reason);
        case CacheReader::Opened::Ready:
            break;
    }
    switch (options.command) {
        case QueryCommand::Stats:
            return runStats(reader, options, out, err);
        case QueryCommand::Ls:
            return runLs(reader, options, out, err);
        case QueryCommand::Find:
        case QueryCommand::Where:
            break;
    }
    return runSearch(reader, options, criteria, out, err);
}
