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
#include <cwchar>
#include <string_view>

#include "cache/cacheschema.h"
#include "cache/fscache.h"
#include "system/platform.h"
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

RecordSet* FS_Cache::matchChildren(RecordSet& byName, RecordSet& byParent, uint32_t parentId,
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

    // The parent's chain is selected only when it is walked.
    auto selectChildren = [&] {
        varParentId->setValue(parentId);
        hintNumber(*critParentId, cacheschema::kParentId, parentId);
        return byParent.select(critParentId.get(), true) && byParent.moveFirst();
    };
    if (shortToo) {
        // A short name has no index of its own here: the parent's children hold every match.
        for (bool more = selectChildren(); more; more = byParent.moveNext()) {
            if (take(byParent))
                return &byParent;
        }
        return nullptr;
    }
    // The parent's children first: directories seldom have many. Once either chain has been
    // walked to its end, every match has been met.
    bool parentLive = selectChildren();
    if (!parentLive || take(byParent))
        return parentLive ? &byParent : nullptr;
    varPathName->setValue(name.c_str());
    hintText(*critPathName, cacheschema::kPathName, name.c_str());
    byName.select(critPathName.get(), caseSensitive);
    for (bool nameLive = byName.moveFirst(); nameLive && parentLive;) {
        if (take(byName))
            return &byName;
        nameLive = byName.moveNext();
        parentLive = byParent.moveNext();
        if (parentLive && take(byParent))
            return &byParent;
    }
    return nullptr;
}

bool FS_Cache::findDirectory(RecordSet& directoriesRecordSet, RecordSet& parentRecordSet,
                             const wchar_t* path, bool caseSensitive) {
    if (path == nullptr)
        return false;
    caseSensitive = platform::nameCaseSensitive(caseSensitive);
    // The components from the root text ("C:\" or "/") down; one trailing separator does not
    // count.
    constexpr wchar_t sep = platform::kPathSeparator;
    std::wstring_view rest(path);
    const size_t rootEnd = rest.find(sep);
    std::vector<std::wstring_view> parts{
        rest.substr(0, rootEnd == rest.npos ? rest.npos : rootEnd + 1)};
    rest.remove_prefix(parts[0].size());
    if (!rest.empty() && rest.back() == sep)
        rest.remove_suffix(1);
    for (size_t at = 0; !rest.empty() && at <= rest.size();) {
        const size_t end = std::min(rest.find(sep, at), rest.size());
        parts.push_back(rest.substr(at, end - at));
        at = end + 1;
    }

    // The first match at every level is the answer when names are unique under each parent.
    std::vector<uint32_t> level;
    std::wstring name;
    uint32_t parentId = 0;
    RecordSet* positioned = nullptr;
    size_t k = 0;
    for (; k < parts.size(); ++k) {
        level.clear();
        name.assign(parts[k]);
        positioned = matchChildren(directoriesRecordSet, parentRecordSet, parentId, name,
                                   caseSensitive, true, level);
        if (level.empty())
            break;
        parentId = level.front();
    }
    if (k == parts.size())
        return positioned == &directoriesRecordSet || selectId(directoriesRecordSet, parentId);
    if (k == 0)
        return false;
    // A miss below the root may come from having followed one of two equally named
    // directories: then every branch is followed, level by level.
    std::vector<uint32_t> parents{0};
    for (k = 0; k < parts.size() && !parents.empty(); ++k) {
        level.clear();
        name.assign(parts[k]);
        for (uint32_t parent : parents) {
            matchChildren(directoriesRecordSet, parentRecordSet, parent, name, caseSensitive, false,
                          level);
        }
        parents.swap(level);
    }
    // Of equally named directories the newest, as a walk of the name's bucket meets first.
    return !parents.empty() &&
           selectId(directoriesRecordSet, *std::max_element(parents.begin(), parents.end()));
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

bool FS_Cache::findChildDirectory(uint32_t parentId, const wchar_t* name, bool caseSensitive) {
    if (name == nullptr)
        return false;
    std::vector<uint32_t> found;
    const RecordSet* at = matchChildren(directoriesRecordSet, parentRecordSet, parentId, name,
                                        platform::nameCaseSensitive(caseSensitive), true, found);
    return !found.empty() &&
           (at == &directoriesRecordSet || selectId(directoriesRecordSet, found.front()));
}
