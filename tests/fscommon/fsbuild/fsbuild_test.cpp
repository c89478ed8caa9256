#include "fsbuild/fsbuild.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "../listing/entrysetup.h"
#include "testsupport.h"

namespace fs = std::filesystem;

TEST(ModeWord, WorkedValues) {
    struct Case {
        uint32_t attributes;
        const wchar_t* name;
        const wchar_t* shortName;
        uint32_t expected;
    } cases[] = {
        {0x20, L"notes.txt", L"", 0x21B6},  // archive bit ignored
        {0x0, L"Tool.Exe", L"", 0x23FE},    // any case
        {0x1, L"notes.txt", L"", 0xA092},   // read-only
        {0x10, L"dir", L"", 0x01B7},        // directory
        {0x7, L"SETUP.EXE", L"", 0x8EDA},   // hidden, system, read-only
        {0x0, L"", L"PROG.COM", 0x23FE},    // short name stands in
        {0x0, L"prog.com.txt", L"PROG.COM", 0x21B6},
        {0x14, L"x", L"", 0x05B7},  // system directory: 0x400 | 0x1
    };
    for (const Case& c : cases)
        EXPECT_EQ(modeWord(c.attributes, c.name, c.shortName), c.expected) << c.name;
}

TEST(PathCheck, RootsDirectoriesFilesLinksAndMissingPaths) {
    testsupport::LogCapture log;
    testsupport::TempDir dir;
    const wchar_t sep = sizeof(wchar_t) == 4 ? L'/' : L'\\';
    fs::create_directory(dir.path() / "sub");
    std::ofstream(dir.path() / "file").put('x');

    // A drive root is accepted without a look-up, even one that does not exist.
    EXPECT_TRUE(fs_isValidPath(sizeof(wchar_t) == 4 ? L"/" : L"Q:\\"));
    const std::wstring sub = (dir.path() / "sub").wstring();
    EXPECT_TRUE(fs_isValidPath(sub.c_str()));
    EXPECT_TRUE(fs_isValidPath((sub + sep).c_str()));
    EXPECT_FALSE(fs_isValidPath((dir.path() / "file").wstring().c_str()));
    EXPECT_FALSE(fs_isValidPath(nullptr));
    EXPECT_TRUE(log.has("::isValidPath - path name specified is null"));
    const std::wstring missing = (dir.path() / "missing").wstring();
    EXPECT_FALSE(fs_isValidPath((missing + sep).c_str()));
    EXPECT_TRUE(log.has("::isValidPath - invalid file handle. Error 2 opening '" +
                        (dir.path() / "missing").string() + "' path"));
    if (entrysetup::createDirectoryLink(dir.path() / "sub", dir.path() / "link")) {
        EXPECT_FALSE(fs_isValidPath((dir.path() / "link").wstring().c_str()));
    }
}
