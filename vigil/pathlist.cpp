#include "pathlist.h"

#include <string>

#include "log/rklog.h"
#include "system/platform.h"
#include "text/pathhelper.h"
#include "text/strutil.h"

namespace {

constexpr char kLogModule[] = "vigil/vigil";

// A directory path as the list keeps it: with a trailing separator, and in upper case where
// file names ignore case.
std::wstring listForm(std::wstring path) {
    path = PathHelper::withTrailingSeparator(std::move(path));
    return platform::kNamesCaseSensitive ? path : toUpper(std::move(path));
}

}  // namespace

void extractMonitoredPathList(const wchar_t* pathList, MonitoredPathList& list) {
    RkLogWrapper* log = getRkLogFs();
    LOG_TRACE(log, "[vigil]::extractMonitoredPathList - pathList: [%ls]\n",
              pathList ? pathList : L"");
    if (pathList == nullptr || *pathList == L'\0')
        return;
    const std::wstring text(pathList);
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(L';', start);
        if (end == std::wstring::npos) {
            list.emplace_back(text.substr(start), 1);
            return;
        }
        list.emplace_back(text.substr(start, end - start), 1);
        start = end + 1;
        if (start == text.size())
            return;  // a final ";" ends the list
    }
}

bool buildMonitoredPathList(const wchar_t* pathList, MonitoredPathList& result,
                            DriveSource source) {
    RkLogWrapper* log = getRkLogFs();
    DriveHelper drives(std::move(source));
    DriveList fixedDrives;
    drives.buildDriveList(fixedDrives, DRIVE_TYPE_FIXED);

    MonitoredPathList raw;
    extractMonitoredPathList(pathList, raw);
    bool ok = true;
    MonitoredPathList found;
    for (size_t index = 0; index < raw.size(); ++index) {
        const wchar_t* entry = raw[index].text();
        LOG_TRACE(log, "[vigil]::buildMonitoredPathList - tmpMonitoredPathList [%d,%ls]\n",
                  static_cast<int>(index), entry);
        if (compareNoCase(entry, L"$local") == 0) {
            for (const DriveInfo& drive : fixedDrives)
                found.emplace_back(listForm(drive.root), 1);
            continue;
        }
        std::optional<std::wstring> resolved = PathHelper::realPath(entry);
        if (!resolved) {
            ok = false;
            continue;
        }
        const std::wstring path = listForm(*resolved);
        // Kept when the file system it lies on is a fixed drive; others drop silently.
        std::optional<DriveInfo> drive = drives.driveOfPath(path.c_str());
        if (drive && drive->typeBit == DRIVE_TYPE_FIXED)
            found.emplace_back(path, 1);
    }
    if (ok)
        PathHelper::normalisePathList(found, result);
    return ok;
}
