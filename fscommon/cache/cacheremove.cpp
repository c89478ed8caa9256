// Removal of a directory's files and of a whole subtree.
#include <unordered_set>
#include <vector>

#include "cache/cacheschema.h"
#include "cache/fscache.h"

namespace {

constexpr char kLogModule[] = "fscommon/cache";

}  // namespace

void FS_Cache::removeFiles(Table* files, uint32_t id) {
    if (files == nullptr)
        return;
    RecordSet records = files->openRecordSet();
    varPathId->setValue(id);
    hintNumber(*critPathId, cacheschema::kPathId, id);
    records.select(critPathId.get(), true);
    for (bool more = records.moveFirst(); more; more = records.moveNext())
        records.removeRecord();
    if (!files->closeRecordSet(records))
        LOG_TRACE(log, "FS_Cache::removeFiles - closeRecordSet failed!\n");
}

void FS_Cache::removeTree(Table* directories, Table* files, uint32_t id) {
    if (directories == nullptr)
        return;
    // Depth first as a recursion would go, each level walking its children with a record set of
    // its own, but the levels are kept on the heap: a chain of any depth is removed.
    struct Level {
        uint32_t id;
        RecordSet children;
        bool started = false;
    };
    std::vector<Level> levels;
    // A damaged table could make a directory its own ancestor; such a child is not entered twice.
    std::unordered_set<uint32_t> open;
    auto descend = [&](uint32_t directory) {
        Level level{directory, directories->openRecordSet()};
        varParentId->setValue(directory);
        hintNumber(*critParentId, cacheschema::kParentId, directory);
        level.children.select(critParentId.get(), true);
        levels.push_back(std::move(level));
        open.insert(directory);
    };
    descend(id);
    while (!levels.empty()) {
        Level& level = levels.back();
        // The levels below changed the variable.
        varParentId->setValue(level.id);
        const bool more = level.started ? level.children.moveNext() : level.children.moveFirst();
        level.started = true;
        if (more) {
            const uint32_t child = level.children.getUInt32(cacheschema::kId);
            if (open.count(child) == 0)
                descend(child);
            continue;
        }
        removeFiles(files, level.id);
        if (selectId(level.children, level.id))
            level.children.removeRecord();
        if (!directories->closeRecordSet(level.children))
            LOG_TRACE(log, "FS_Cache::removeTree - closeRecordSet failed!\n");
        open.erase(level.id);
        levels.pop_back();
    }
}

void FS_Cache::removeChildren(Table* directories, Table* files, uint32_t id) {
    if (directories == nullptr)
        return;
    // The children first, then each subtree: removeTree walks with record sets of its own.
    std::vector<uint32_t> children;
    RecordSet records = directories->openRecordSet();
    varParentId->setValue(id);
    hintNumber(*critParentId, cacheschema::kParentId, id);
    records.select(critParentId.get(), true);
    for (bool more = records.moveFirst(); more; more = records.moveNext())
        children.push_back(records.getUInt32(cacheschema::kId));
    if (!directories->closeRecordSet(records))
        LOG_TRACE(log, "FS_Cache::removeTree - closeRecordSet failed!\n");
    for (uint32_t child : children) {
        if (child != id)
            removeTree(directories, files, child);
    }
    removeFiles(files, id);
}
