#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "configtest.h"
#include "fs/inifile.h"
#include "fs/processconfig.h"
#include "system/platform.h"
#include "system/sysinfo.h"
#include "testsupport.h"
#include "text/utf8.h"

namespace {

int parse(const char* text, int defaultValue = 99) {
    return parseConfigInt(text, std::strlen(text), defaultValue);
}

}  // namespace

TEST(ConfigInt, SignsSuffixesAndEverythingElseGivesTheDefault) {
    EXPECT_EQ(parse("-12"), -12);
    EXPECT_EQ(parse("--12"), 12);
    EXPECT_EQ(parse("+-12"), -12);
    EXPECT_EQ(parse("+7"), 7);
    EXPECT_EQ(parse("4k"), 4096);
    EXPECT_EQ(parse("4K"), 4096);
    EXPECT_EQ(parse("2M"), 2097152);
    EXPECT_EQ(parse("-3m"), -3 * 1048576);
    EXPECT_EQ(parse("0"), 0);
    for (const char* bad : {"4kb", "k", "-", "+-", " 4", "4 ", "x4", "4x", "", "4kk", "0x10"})
        EXPECT_EQ(parse(bad), 99) << '"' << bad << '"';
    // 32-bit arithmetic wraps.
    EXPECT_EQ(parse("4294967297"), 1);
    EXPECT_EQ(parse("2147483648"), INT32_MIN);
    EXPECT_EQ(parse("4194304k"), 0);
    // A NUL byte is a character like any other.
    EXPECT_EQ(parseConfigInt("4\0", 2, 99), 99);
}

TEST_F(ConfigFile, ValuesByCaseInsensitiveSectionAndKey) {
    use("; comment\n"
        "# another\n"
        "[Corvid]\n"
        "  Home =  /opt/plug  \n"
        "empty=\n"
        "[numbers]\n"
        "size = 4k\n"
        "blank = \" 4\"\n"
        "quoted = \" a b \"\n");
    ProcessConfig config;
    EXPECT_EQ(config.getString("corvid", "home", "."), "/opt/plug");
    EXPECT_EQ(config.getString("CORVID", "HOME", "."), "/opt/plug");
    EXPECT_EQ(config.getString("corvid", "empty", "dflt"), "dflt");
    EXPECT_EQ(config.getString("corvid", "missing", nullptr), "");
    EXPECT_EQ(config.getString("nosection", "home", "x"), "x");
    EXPECT_EQ(config.getString("numbers", "quoted", nullptr), " a b ");
    EXPECT_EQ(config.getInt("numbers", "size", 1), 4096);
    EXPECT_EQ(config.getInt("numbers", "blank", 1), 1);
    EXPECT_EQ(config.getInt("numbers", "missing", -5), -5);
    EXPECT_EQ(config.getInt("corvid", "empty", 3), 3);
    EXPECT_EQ(config.getError(), 0);
}

TEST_F(ConfigFile, BadLinesAreLoggedAndSkipped) {
    testsupport::LogCapture log;
    use("\xEF\xBB\xBFkey=before any section\r\n"
        "[a]\r\n"
        "first=1\r\n"
        "no equals sign\r"
        "[unclosed\n"
        "=no key\n"
        "[]\n"
        "first=2\n"
        "last=3");
    ProcessConfig config;
    EXPECT_EQ(config.getInt("a", "first", 0), 1);  // the first of two equal keys counts
    EXPECT_EQ(config.getInt("a", "last", 0), 3);
    EXPECT_EQ(config.getError(), -1);
    for (int line : {1, 4, 5, 6, 7})
        EXPECT_TRUE(log.has("invalid line " + std::to_string(line) + " in")) << line;
    EXPECT_FALSE(log.has("invalid line 3 "));
    EXPECT_TRUE(log.has("key 'a.first' repeated in line 8"));

    const char withNul[] = "[s]\nk=v\0w\nj=1\n";
    const IniText ini = parseIni(withNul, sizeof withNul - 1);
    ASSERT_EQ(ini.entries.size(), 1u);
    EXPECT_EQ(ini.entries[0].key, "j");
    EXPECT_EQ(ini.badLines, std::vector<size_t>{2});
}

TEST_F(ConfigFile, MissingFileLeavesEveryKeyAtItsDefault) {
    testsupport::LogCapture log;
    useFile((dir_.path() / "absent.ini").wstring());
    ProcessConfig config;
    EXPECT_EQ(config.getString("corvid", "home", "."), ".");
    EXPECT_EQ(config.getInt("corvid", "home", 8), 8);
    EXPECT_EQ(config.getError(), 2);
    EXPECT_TRUE(log.has("unable to read configuration file"));
    EXPECT_TRUE(OrbCfg::fileName().empty());
}

TEST_F(ConfigFile, WithoutTheVariableTheFileBesideTheExecutableCounts) {
    testsupport::setEnv(L"VIGIL_CONFIG", nullptr);
    OrbCfg::reload();
    // The build writes it, naming the folder of the provider libraries (the test's own folder).
    const std::filesystem::path self(sysinfo::executablePath());
    EXPECT_EQ(std::filesystem::path(OrbCfg::fileName()), self.parent_path() / "vigil.ini");
    ProcessConfig config;
    const std::string home = config.getString("corvid", "home", ".");
    EXPECT_TRUE(std::filesystem::equivalent(utf8::toWide(home), self.parent_path())) << home;
}
