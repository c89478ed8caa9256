// The cache's schema: the fields and indexes of its two tables, the variables its criteria are
// bound to, the criteria texts, and the names of the files that belong to a cache.
//
// A directory record holds its own name and its parent's ID (0 for a root, whose name is the root
// text, such as "C:\" or "/"); a file record holds its name and the ID of its directory. Paths
// are never stored: they are found by walking these links.
#pragma once

#include <cstdint>

#include "field.h"

namespace cacheschema {

struct FieldDef {
    const wchar_t* name;
    int32_t type;
};

// Directories table, in stored order.
inline constexpr wchar_t kId[] = L"ID";
inline constexpr wchar_t kPathName[] = L"PATHNAME";
inline constexpr wchar_t kShortPathName[] = L"SHORTPATHNAME";
inline constexpr wchar_t kParentId[] = L"PARENTID";
inline constexpr wchar_t kCreationTime[] = L"CREATIONTIME";
inline constexpr FieldDef kDirectoryFields[] = {
    {kId, FT_UINT32},       {kPathName, FT_STRING},     {kShortPathName, FT_STRING},
    {kParentId, FT_UINT32}, {kCreationTime, FT_UINT32},
};
// Indexed fields, in creation order; each index is named table name + "_" + field name.
inline constexpr const wchar_t* kDirectoryIndexes[] = {kPathName, kShortPathName, kId, kParentId};

// Files table, in stored order.
inline constexpr wchar_t kFileName[] = L"FILENAME";
inline constexpr wchar_t kShortFileName[] = L"SHORTFILENAME";
inline constexpr wchar_t kAttr[] = L"ATTR";
inline constexpr wchar_t kSize[] = L"SIZE";
inline constexpr wchar_t kPathId[] = L"PATHID";
inline constexpr wchar_t kMd5[] = L"MD5";
inline constexpr wchar_t kCrc32[] = L"CRC32";
inline constexpr wchar_t kQ32[] = L"Q32";
inline constexpr FieldDef kFileFields[] = {
    {kFileName, FT_STRING}, {kShortFileName, FT_STRING}, {kAttr, FT_UINT32},  {kSize, FT_UINT64},
    {kPathId, FT_UINT32},   {kMd5, FT_STRING},           {kCrc32, FT_UINT32}, {kQ32, FT_UINT32},
};
inline constexpr const wchar_t* kFileIndexes[] = {kFileName, kShortFileName, kPathId};

// The MD5 text of a file whose digests were not taken.
inline constexpr wchar_t kNoDigest[] = L"0";

// Variables of every criterion, in this order.
inline constexpr FieldDef kVariables[] = {
    {L"id", FT_UINT32},
    {L"pathid", FT_UINT32},
    {L"parentid", FT_UINT32},
    {L"pathname", FT_STRING},
    {L"shortpathname", FT_STRING},
    {L"filename", FT_STRING},
    {L"shortfilename", FT_STRING},
    {L"md5", FT_STRING},
    {L"crc32", FT_UINT32},
    {L"q32", FT_UINT32},
};

// Criteria texts, in creation order.
inline constexpr wchar_t kCritPathId[] = L"[PATHID]==pathid";
inline constexpr wchar_t kCritParentId[] = L"[PARENTID]==parentid";
inline constexpr wchar_t kCritId[] = L"[ID]==id";
inline constexpr wchar_t kCritAnyPathName[] =
    L"[SHORTPATHNAME]==shortpathname || [PATHNAME]==pathname";
inline constexpr wchar_t kCritPathName[] = L"[PATHNAME]==pathname";
inline constexpr wchar_t kCritAnyFileName[] =
    L"[PATHID]==pathid && ([FILENAME]==filename || [SHORTFILENAME]==shortfilename)";
inline constexpr wchar_t kCritFileName[] = L"[PATHID]==pathid && [FILENAME]==filename";

// Files beside the tables: directories table name + suffix, and the exclusion digests.
inline constexpr wchar_t kCounterSuffix[] = L".counter";
inline constexpr wchar_t kUpdateMarkerSuffix[] = L".cuflag";
inline constexpr wchar_t kExclusionHashFile[] = L"ex_hash";
// The access mutex is named after the cache directory with this suffix.
inline constexpr wchar_t kMutexSuffix[] = L"_c_mutex";

// Directory ids stop here rather than wrap to 0, which marks a root's parent.
inline constexpr uint32_t kLastDirectoryId = 0xFFFFFFFF;

// Highest directory counter an opened cache may carry; a higher one marks it as corrupted.
inline constexpr uint32_t kMaxOpenedDirectoriesIndex = 0xF3333333;

}  // namespace cacheschema
