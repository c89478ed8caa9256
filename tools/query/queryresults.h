// The results of a query and how they are printed: one path a line (or a NUL byte after each,
// for xargs -0), `ls -l`-like rows for a directory listing, one JSON object a line, or only
// their number. Search results keep the order of the files table (the order in which the
// monitor recorded the files); a listing is sorted by name. Nothing is printed until the query
// is complete: the cache is let go first, so that a slow reader of the output never holds up the
// monitor.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "queryoptions.h"

struct FoundEntry {
    enum class Kind { Directory, File, Other };

    std::string path;  // UTF-8, as every output form prints it
    std::string name;  // the last component, for listing rows
    Kind kind = Kind::File;
    uint64_t size = 0;  // files only: the cache holds no size or mode word for directories
    uint32_t attr = 0;
};

// The kind of a file record by its mode word: a system entry (on Linux anything that is neither
// a regular file nor a directory, such as a symbolic link) is Other.
FoundEntry::Kind kindOfFile(uint32_t attr);

class QueryResults {
  public:
    // listing: rows of a directory listing instead of bare paths.
    QueryResults(QueryOutput output, bool nulTerminated, bool listing);

    // True when add needs the entry's fields; with --count only the number matters.
    bool wantsEntries() const { return output_ != QueryOutput::Count; }
    void add(const FoundEntry& entry);
    size_t count() const { return count_; }
    // Prints the results; gives their number.
    size_t print(FILE* out);

  private:
    void format(const FoundEntry& entry);

    QueryOutput output_;
    bool nulTerminated_;
    bool listing_;
    size_t count_ = 0;
    // The text to print, made as results come in (a listing: once they are sorted).
    std::string text_;
    std::vector<FoundEntry> listed_;
};
