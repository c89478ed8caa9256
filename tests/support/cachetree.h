// What a cache's two tables say is on disk, rebuilt from the records alone, and what is on disk
// indeed, in the same form, so that tests compare the two trees. The table side follows the
// stored links (PARENTID up to a root record, PATHID to a directory) and does not use the cache's
// own look-ups; it also reports every record that breaks the links.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class Table;

namespace cachetree {

struct Entry {
    bool directory = false;
    uint64_t size = 0;  // files only
    bool operator==(const Entry&) const = default;
};

// Full path (roots as "C:\" or "/", components joined with the separator) to entry.
using Tree = std::map<std::wstring, Entry>;

struct TableView {
    Tree tree;
    // Directory path to the ID of its record.
    std::map<std::wstring, uint32_t> ids;
    // One line per fault: a record whose parent or directory id has no record, an id used
    // twice, a parent chain that loops, two entries with the same path.
    std::vector<std::wstring> faults;
};

// Every directory and file record of the two tables.
TableView readTables(Table& directories, Table& files);

// The tree the scan should record for root: root's ancestors and root as directories, then,
// depth first, every entry below it that is not "." or "..", with directories that are
// reparse points (links, junctions, other mounts) left out and not entered; without recursive
// only the files of root itself.
Tree readDisk(const std::wstring& root, bool recursive = true);

// The entries of tree at or below path.
Tree below(const Tree& tree, const std::wstring& path);

// The differences of two trees, one line each, for test messages ("" when equal).
std::wstring describeDifferences(const Tree& expected, const Tree& actual);

}  // namespace cachetree
