// Lookups by name: a directory by its path, a file by its directory and name.
//
// A directory is found from the top down: for each component, the records called like it whose
// parent is the record found for the component above. Those are the records that lie both in
// the index bucket of the name and in the bucket of the parent's id; both chains are walked in
// turn, so a level costs about twice the shorter chain, however many directories share the name
// or however many children the parent has. Every record the walk meets must carry the name
// itself: the criteria would also accept a record whose name merely matches the component as a
// wildcard pattern.
#include <algorithm>

#include "cache/cacheschema.h"
#include "cache/fscache.h"
#include "system/platform.h"
#include "text/pathhelper.h"
#include "text/strutil.h"

namespace {

// A name with "~" may be an 8.3 alternate name (only where the platform has them).
bool mayBeShortName(const wchar_t* name) {
    return platform::kHasShortNames && std::wcschr(name, L'~') != nullptr;
}

bool sameName(const wchar_t* stored, const wchar_t* name, bool caseSensitive) {
    return stored != nullptr && compareText(stored, name, caseSensitive) == 0;
}

}  // namespace

void FS_Cache::hintNumber(CriteriaEvaluator& criteria, const wchar_t* field, uint32_t value) {
    indexKey.setName(field);
    indexKey.type = SyntaxValue::NUMERIC;
    indexKey.number = value;
    indexKey.setText(nullptr);
    criteria.setKeyHint(indexKey);
}

void FS_Cache::hintText(CriteriaEvaluator& criteria, const wchar_t* field, const wchar_t* text) {
    indexKey.setName(field);
    indexKey.type = SyntaxValue::STRING;
    indexKey.number = 0;
    indexKey.setText(text);
    criteria.setKeyHint(indexKey);
}

bool FS_Cache::selectId(RecordSet& records, uint32_t id) {
    varId->setValue(id);
    hintNumber(*critId, cacheschema::kId, id);
    return records.select(critId.get(), true) && records.moveFirst();
}

void FS_Cache::matchChildren(RecordSet& byName, RecordSet& byParent, uint32_t parentId,
                             const std::wstring& name, bool caseSensitive, bool firstOnly,
                             std::vector<uint32_t>& found) {
    const size_t before = found.size();
    const bool shortToo = mayBeShortName(name.c_str());
    // True when the record is wanted and the walk may stop.
    auto take = [&](RecordSet& records) {
        if (records.getUInt32(cacheschema::kParentId) != parentId)
            return false;
        if (!sameName(records.getString(cacheschema::kPathName), name.c_str(), caseSensitive) &&
            !(shortToo && sameName(records.getString(cacheschema::kShortPathName), name.c_str(),
                                   caseSensitive))) {
            return false;
        }
        // Both chains hold every match: keep each once.
        const uint32_t id = records.getUInt32(cacheschema::kId);
        if (std::find(found.begin() + static_cast<ptrdiff_t>(before), found.end(), id) ==
            found.end()) {
            found.push_back(id);
        }
        return firstOnly;
    };

    varParentId->setValue(parentId);
    hintNumber(*critParentId, cacheschema::kParentId, parentId);
    byParent.select(critParentId.get(), true);
    if (shortToo) {
        // A short name has no index of its own here: the parent's children hold every match.
        for (bool more = byParent.moveFirst(); more && !take(byParent); more = byParent.moveNext())
            ;
        return;
    }
    varPathName->setValue(name.c_str());
    hintText(*critPathName, cacheschema::kPathName, name.c_str());
    byName.select(critPathName.get(), caseSensitive);
    bool nameLive = byName.moveFirst();
    bool parentLive = nameLive && byParent.moveFirst();
    // Once either chain has been walked to its end, every match has been met.
    while (nameLive && parentLive) {
        if (take(byName))
            return;
        nameLive = byName.moveNext();
        if (take(byParent))
            return;
        parentLive = byParent.moveNext();
    }
}

bool FS_Cache::findDirectory(RecordSet& directoriesRecordSet, RecordSet& parentRecordSet,
                             const wchar_t* path, bool caseSensitive) {
    if (path == nullptr)
        return false;
    caseSensitive = platform::nameCaseSensitive(caseSensitive);
    MonitoredPathList ancestors;
    MonitoredPathList names;
    PathHelper::splitPath(MonitoredPath(path, 0), ancestors, names);
    if (names.empty())
        return false;

    // The first match at every level is the answer when names are unique under each parent.
    std::vector<uint32_t> level;
    uint32_t parentId = 0;
    size_t k = names.size();
    while (k > 0) {
        level.clear();
        matchChildren(directoriesRecordSet, parentRecordSet, parentId, *names[k - 1].path,
                      caseSensitive, true, level);
        if (level.empty())
            break;
        parentId = level.front();
        --k;
    }
    // A miss below the root may come from having followed one of two equally named
    // directories: then every branch is followed, level by level.
    if (k > 0 && k < names.size()) {
        std::vector<uint32_t> parents{0};
        for (k = names.size(); k > 0 && !parents.empty(); --k) {
            level.clear();
            for (uint32_t parent : parents) {
                matchChildren(directoriesRecordSet, parentRecordSet, parent, *names[k - 1].path,
                              caseSensitive, false, level);
            }
            parents.swap(level);
        }
        if (parents.empty())
            return false;
        // Of equally named directories the newest, as a walk of the name's bucket meets first.
        parentId = *std::max_element(parents.begin(), parents.end());
        k = 0;
    }
    return k == 0 && selectId(directoriesRecordSet, parentId);
}

bool FS_Cache::findFile(RecordSet& filesRecordSet, uint32_t directoryId, const wchar_t* name,
                        bool caseSensitive) {
    if (name == nullptr)
        return false;
    caseSensitive = platform::nameCaseSensitive(caseSensitive);
    const bool shortToo = mayBeShortName(name);
    varPathId->setValue(directoryId);
    varFileName->setValue(name);
    if (shortToo)
        varShortFileName->setValue(name);
    // Every record either text accepts lies in the directory: its id picks the index bucket.
    CriteriaEvaluator& criteria = shortToo ? *critAnyFileName : *critFileName;
    hintNumber(criteria, cacheschema::kPathId, directoryId);
    filesRecordSet.select(&criteria, caseSensitive);
    for (bool more = filesRecordSet.moveFirst(); more; more = filesRecordSet.moveNext()) {
        if (sameName(filesRecordSet.getString(cacheschema::kFileName), name, caseSensitive) ||
            (shortToo && sameName(filesRecordSet.getString(cacheschema::kShortFileName), name,
                                  caseSensitive))) {
            return true;
        }
    }
    return false;
}
