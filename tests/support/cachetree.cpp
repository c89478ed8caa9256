#include "cachetree.h"

#include <unordered_map>

#include "listing/listing.h"
#include "recordset.h"
#include "system/platform.h"
#include "table.h"

namespace cachetree {

namespace {

constexpr wchar_t kSep = platform::kPathSeparator;

std::wstring join(const std::wstring& directory, const std::wstring& name) {
    if (!directory.empty() && directory.back() == kSep)
        return directory + name;
    return directory + kSep + name;
}

std::wstring text(const wchar_t* value) {
    return value ? value : L"";
}

struct Directory {
    std::wstring name;
    uint32_t parent = 0;
};

void add(TableView& view, const std::wstring& path, Entry entry) {
    if (!view.tree.emplace(path, entry).second)
        view.faults.push_back(L"two records for " + path);
}

}  // namespace

TableView readTables(Table& directories, Table& files) {
    TableView view;
    std::unordered_map<uint32_t, Directory> byId;
    RecordSet records = directories.openRecordSet();
    for (bool more = records.moveFirst(); more; more = records.moveNext()) {
        const uint32_t id = records.getUInt32(L"ID");
        Directory directory{text(records.getString(L"PATHNAME")), records.getUInt32(L"PARENTID")};
        if (id == 0 || !byId.emplace(id, directory).second)
            view.faults.push_back(L"directory id " + std::to_wstring(id) + L" not unique or 0");
    }
    directories.closeRecordSet(records);

    // Full paths by following parents; a chain longer than the table loops.
    std::unordered_map<uint32_t, std::wstring> paths;
    auto pathOf = [&](uint32_t id, std::wstring& out) {
        std::vector<uint32_t> chain;
        for (uint32_t at = id; paths.count(at) == 0; at = byId[at].parent) {
            if (byId.count(at) == 0) {
                view.faults.push_back(L"directory id " + std::to_wstring(at) + L" is missing");
                return false;
            }
            if (chain.size() > byId.size()) {
                view.faults.push_back(L"parent chain of " + std::to_wstring(id) + L" loops");
                return false;
            }
            chain.push_back(at);
            if (byId[at].parent == 0)
                break;
        }
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            const Directory& directory = byId[*it];
            paths[*it] = directory.parent == 0 ? directory.name
                                               : join(paths[directory.parent], directory.name);
        }
        out = paths[id];
        return true;
    };
    for (const auto& [id, directory] : byId) {
        std::wstring path;
        if (pathOf(id, path)) {
            add(view, path, Entry{true, 0});
            view.ids[path] = id;
        }
    }

    records = files.openRecordSet();
    for (bool more = records.moveFirst(); more; more = records.moveNext()) {
        const uint32_t pathId = records.getUInt32(L"PATHID");
        const std::wstring name = text(records.getString(L"FILENAME"));
        std::wstring directory;
        if (byId.count(pathId) == 0) {
            view.faults.push_back(L"file " + name + L" in missing directory " +
                                  std::to_wstring(pathId));
        } else if (pathOf(pathId, directory)) {
            add(view, join(directory, name), Entry{false, records.getUInt64(L"SIZE")});
        }
    }
    files.closeRecordSet(records);
    return view;
}

Tree readDisk(const std::wstring& root, bool recursive) {
    Tree tree;
    std::wstring top = root;
    const size_t first = top.find(kSep);
    while (top.size() > first + 1 && top.back() == kSep)
        top.pop_back();
    // The ancestors: the root text up to its first separator, then at every further one.
    for (size_t at = top.find(kSep, first + 1); at != std::wstring::npos;
         at = top.find(kSep, at + 1)) {
        tree[top.substr(0, at)] = Entry{true, 0};
    }
    tree[top.substr(0, first + 1)] = Entry{true, 0};
    tree[top] = Entry{true, 0};

    std::vector<std::wstring> pending{top};
    listing::ListingEntry entry;
    while (!pending.empty()) {
        const std::wstring directory = pending.back();
        pending.pop_back();
        listing::DirectoryListing listing;
        if (listing.open(directory) != 0)
            continue;
        while (listing.next(entry) == 0) {
            if (entry.isDotEntry())
                continue;
            const std::wstring path = join(directory, entry.name);
            if (!entry.isDirectory()) {
                tree[path] = Entry{false, entry.size()};
            } else if (!entry.isReparsePoint() && recursive) {
                tree[path] = Entry{true, 0};
                pending.push_back(path);
            }
        }
    }
    return tree;
}

Tree below(const Tree& tree, const std::wstring& path) {
    std::wstring prefix = path;
    if (prefix.empty() || prefix.back() != kSep)
        prefix += kSep;
    Tree out;
    for (const auto& [key, entry] : tree) {
        if (key == path || key.compare(0, prefix.size(), prefix) == 0)
            out.emplace(key, entry);
    }
    return out;
}

std::wstring describeDifferences(const Tree& expected, const Tree& actual) {
    std::wstring out;
    auto describe = [](const Entry& e) {
        return e.directory ? std::wstring(L"directory") : L"file of " + std::to_wstring(e.size);
    };
    for (const auto& [path, entry] : expected) {
        auto it = actual.find(path);
        if (it == actual.end())
            out += L"missing: " + path + L"\n";
        else if (!(it->second == entry))
            out += L"differs: " + path + L" " + describe(it->second) + L" instead of " +
                   describe(entry) + L"\n";
    }
    for (const auto& [path, entry] : actual) {
        if (expected.count(path) == 0)
            out += L"unexpected: " + path + L"\n";
    }
    return out;
}

}  // namespace cachetree
