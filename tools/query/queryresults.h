// The results of a query and how they are printed: one path a line (or a NUL byte after each,
// for xargs -0), `ls -l`-like rows for a directory listing, one JSON object a line, or only
// their number. Results are printed sorted by path, once the query is complete.
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
    // listing: lines are `ls -l`-like rows instead of bare paths.
    QueryResults(QueryOutput output, bool nulTerminated, bool listing);

    void add(FoundEntry entry);
    size_t count() const { return count_; }
    // Prints the results and gives their number.
    size_t print(FILE* out);

  private:
    QueryOutput output_;
    bool nulTerminated_;
    bool listing_;
    size_t count_ = 0;
    std::vector<FoundEntry> entries_;
};
