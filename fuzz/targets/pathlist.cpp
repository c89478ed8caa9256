// The monitored path list of the command line, built over a drive table made by the input.
//
// Input: the path list (UTF-8, as the command line brings it) up to the first line feed, then
// the mount table in the form of /proc/self/mountinfo; the block devices 8:1 and 8:16 are
// removable. Windows lists its real drives and ignores the table.
//
// Checked: a failed build leaves the list empty; every entry ends with a separator and lies on
// a fixed drive; no entry equals another or lies below it; every entry of the argument that
// resolves onto a fixed drive, and every fixed drive's root for "$local", is covered by an
// entry; normalising the list again changes nothing.
#include <string>

#include "fuzzentry.h"
#include "fuzzsupport.h"
#include "pathlist.h"
#include "system/platform.h"
#include "text/pathhelper.h"
#include "text/strutil.h"

namespace {

// A directory as the list keeps it.
std::wstring listForm(std::wstring path) {
    path = PathHelper::withTrailingSeparator(std::move(path));
    return platform::kNamesCaseSensitive ? path : toUpper(std::move(path));
}

bool startsWith(const std::wstring& text, const std::wstring& head) {
    return text.compare(0, head.size(), head) == 0;
}

bool covered(const MonitoredPathList& list, const std::wstring& path) {
    for (const MonitoredPath& entry : list) {
        if (entry.path && startsWith(path, *entry.path))
            return true;
    }
    return false;
}

DriveSource fakeDrives(const fuzz::ScratchDirectory& dir, std::string_view mountInfo) {
    DriveSource source;
#if defined(_WIN32)
    // Windows lists its real drives; the source is not read.
    (void)dir;
    (void)mountInfo;
    return source;
#else
    dir.write(L"mountinfo", mountInfo);
    for (const wchar_t* device : {L"8:1", L"8:16"}) {
        std::filesystem::create_directories(dir.path() / L"block" / device);
        dir.write(std::wstring(L"block/") + device + L"/removable", "1\n");
    }
    source.mountInfo = (dir.path() / L"mountinfo").wstring();
    source.sysDevBlock = (dir.path() / L"block").wstring();
    return source;
#endif
}

void checkList(const std::wstring& argument, const MonitoredPathList& result,
               const DriveSource& source) {
    DriveHelper drives(source);
    for (size_t i = 0; i < result.size(); ++i) {
        FUZZ_CHECK(result[i].path.has_value() && result[i].recursive == 1);
        const std::wstring& path = *result[i].path;
        FUZZ_CHECK(!path.empty() && path.back() == platform::kPathSeparator);
        const std::optional<DriveInfo> drive = drives.driveOfPath(path.c_str());
        FUZZ_CHECK(drive && drive->typeBit == DRIVE_TYPE_FIXED);
        for (size_t j = 0; j < result.size(); ++j)
            FUZZ_CHECK(i == j || !startsWith(path, *result[j].path));
    }
    MonitoredPathList again;
    PathHelper::normalisePathList(result, again);
    FUZZ_CHECK(again.size() == result.size());
    for (size_t i = 0; i < again.size(); ++i)
        FUZZ_CHECK(again[i].path == result[i].path);

    DriveList fixed;
    drives.buildDriveList(fixed, DRIVE_TYPE_FIXED);
    MonitoredPathList raw;
    extractMonitoredPathList(argument.c_str(), raw);
    for (const MonitoredPath& entry : raw) {
        if (compareNoCase(entry.text(), L"$local") == 0) {
            for (const DriveInfo& drive : fixed)
                FUZZ_CHECK(covered(result, listForm(drive.root)));
            continue;
        }
        const std::optional<std::wstring> resolved = PathHelper::realPath(entry.text());
        if (!resolved)
            continue;
        const std::wstring path = listForm(*resolved);
        const std::optional<DriveInfo> drive = drives.driveOfPath(path.c_str());
        if (drive && drive->typeBit == DRIVE_TYPE_FIXED)
            FUZZ_CHECK(covered(result, path));
    }
}

}  // namespace

VIGIL_FUZZ_ENTRY(pathlist) {
    fuzz::ScratchDirectory& dir = fuzz::ScratchDirectory::instance();
    dir.begin();
    fuzz::ByteReader input(data, size);
    std::wstring argument = fuzz::wideText(input.line());
    // A command-line argument ends at its first zero.
    argument.resize(std::wcslen(argument.c_str()));
    const DriveSource source = fakeDrives(dir, input.rest());

    MonitoredPathList result;
    if (!buildMonitoredPathList(argument.c_str(), result, source)) {
        FUZZ_CHECK(result.empty());
    } else {
        checkList(argument, result, source);
    }
    dir.end();
}
