// A cache built in one locale and read in another: names with accented and non-Latin letters are
// found by exact name, without regard to case, and by pattern. The cache is built by a process
// of its own, as a monitor would build it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "querytest.h"
#include "system/platform.h"
#include "system/sysinfo.h"
#include "text/pathhelper.h"
#include "text/utf8.h"

namespace fs = std::filesystem;

namespace {

// Sets LC_ALL for the programs this test starts, and puts the old value back.
class ChildLocale {
  public:
    ChildLocale() : saved_(sysinfo::getEnv(L"LC_ALL")) {}
    ~ChildLocale() { testsupport::setEnv(L"LC_ALL", saved_ ? saved_->c_str() : nullptr); }
    void use(const wchar_t* locale) { testsupport::setEnv(L"LC_ALL", locale); }

  private:
    std::optional<std::wstring> saved_;
};

TEST(QueryLocale, NamesAreFoundWhateverTheLocalesOfMonitorAndReader) {
    const wchar_t* const names[] = {L"\u00C9t\u00E9.txt",
                                    L"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC.txt",
                                    L"\u0420\u0443\u0441\u0441\u043A\u0438\u0439.doc",
                                    L"\u65E5\u672C\u8A9E.txt", L"\u00C5NGSTR\u00D6M.log"};
    ChildLocale locale;
    const std::pair<const wchar_t*, const wchar_t*> pairs[] = {{L"C", L"C.UTF-8"},
                                                               {L"C.UTF-8", L"C"}};
    for (const auto& [built, read] : pairs) {
        testsupport::TempDir dir;
        fs::create_directories(dir.path() / "tree");
        fs::create_directories(dir.path() / "cache");
        for (const wchar_t* name : names)
            std::ofstream(dir.path() / "tree" / querytest::osPath(name)) << "x";
        const std::wstring root = *PathHelper::realPath((dir.path() / "tree").wstring().c_str());
        const std::wstring cache = (dir.path() / "cache").wstring();

        locale.use(built);
        ASSERT_EQ(testsupport::run(testsupport::programPath(L"vigil-test-buildcache"),
                                   {cache, L"dirs", L"files", root}),
                  0);
        locale.use(read);
        auto find = [&](std::vector<std::wstring> args) {
            args.insert(args.begin(), {cache, L"dirs", L"files", L"find"});
            return querytest::query(args).out;
        };
        auto line = [&](const wchar_t* name) {
            return utf8::fromWide(PathHelper::joinPath(root, name)) + "\n";
        };
        SCOPED_TRACE(utf8::fromWide(built) + " then " + utf8::fromWide(read));
        // Exact names go through the FILENAME index, whose keys are upper-cased.
        EXPECT_EQ(find({names[0]}), line(names[0]));
        EXPECT_EQ(find({L"\u00E9t\u00C9.TXT", L"-i"}), line(names[0]));
        EXPECT_EQ(find({L"\u03B5\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC.TXT", L"-i"}),
                  line(names[1]));
        EXPECT_EQ(find({L"\u0440\u0443\u0441\u0441\u043A\u0438\u0439.DOC", L"-i"}), line(names[2]));
        EXPECT_EQ(find({L"\u00E5ngstr\u00F6m.log", L"-i"}), line(names[4]));
        // Patterns: a wildcard comparison, and pattern sets, which lower-case both sides.
        EXPECT_EQ(find({L"*\u8A9E*"}), line(names[3]));
        EXPECT_EQ(find({L"{\u0395\u03BB\u03BB*,\u0420\u0443\u0441*}", L"--count"}), "2\n");
        EXPECT_EQ(find({L"{\u03B5\u03BB\u03BB*,\u0440\u0443\u0441*}", L"-i", L"--count"}), "2\n");
        EXPECT_EQ(find({L"*\u00D6M.LOG", L"-i"}), line(names[4]));
    }
}

}  // namespace
