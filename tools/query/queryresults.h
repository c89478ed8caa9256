// The results of a query and how they are printed: one path a line (or a NUL byte after each,
// for xargs -0), `ls -l`-like rows for a directory listing, one JSON object a line, or only
// their number. Search results are printed as they are found, in the order of the files table
// (the order in which the monitor recorded the files); a listing is printed at the end, sorted
// by name.
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
    QueryResults(QueryOutput output, bool nulTerminated, bool listing, FILE* out);

    // True when add needs the entry's fields; with --count only the number matters.
    bool wantsEntries() const { return output_ != QueryOutput::Count; }
    void add(const FoundEntry& entry);
    // Prints what is still to print (the listing, or the count) and gives the number of results.
    size_t finish();

  private:
    void print(const FoundEntry& entry);

    QueryOutput output_;
    bool nulTerminated_;
    bool listing_;
    FILE* out_;
    size_t count_ = 0;
    std::vector<FoundEntry> listed_;
};
