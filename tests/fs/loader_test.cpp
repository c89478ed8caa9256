#include "fs/fs_loader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "configtest.h"
#include "fs/fsprovider.h"
#include "fs/processconfig.h"
#include "system/platform.h"
#include "system/sysinfo.h"
#include "testsupport.h"
#include "text/utf8.h"

namespace fs = std::filesystem;

namespace {

const char kSep = platform::kPathSeparatorNarrow;
const std::string kSuffix = platform::kLibrarySuffix;

std::string binDirectory() {
    return utf8::fromWide(fs::path(sysinfo::executablePath()).parent_path().wstring());
}

class Loader : public ConfigFile {
  protected:
    Loader() { testsupport::setEnv(L"VIGIL_TESTLIB_TRACE", trace_.wstring().c_str()); }
    ~Loader() override { testsupport::setEnv(L"VIGIL_TESTLIB_TRACE", nullptr); }

    std::string trace() const { return testsupport::readText(trace_); }

    testsupport::LogCapture log_;
    ProcessConfig config_;
    fs::path trace_ = dir_.path() / "trace.txt";
};

}  // namespace

TEST_F(Loader, WithoutAHomeTheLibraryIsLookedForInTheCurrentDirectory) {
    use("[other]\nhome=/nowhere\n");
    char name[kLibraryNameSize];
    ASSERT_EQ(adjustDynamicLibraryName(name, sizeof name, "fsx", &config_), 0);
    EXPECT_EQ(std::string(name), std::string(".") + kSep + "fsx" + kSuffix);
    EXPECT_TRUE(log_.has(std::string("DLL prefix = .") + kSep));

#if !defined(_WIN32)
    // Missing here (first: a loaded library may be found again by the same name)...
    // Windows looks for a relative name in its standard search order, which includes the
    // program's own folder, where the library is.
    {
        testsupport::InDirectory cd(dir_.path());
        EXPECT_FALSE(loadFsProvider("replay", &config_));
    }
#endif
    // ...and found where it lies.
    testsupport::InDirectory cd(binDirectory());
    auto monitor = loadFsProvider("replay", &config_);
    ASSERT_TRUE(monitor) << lastLibraryError() << log_.text();
    EXPECT_STREQ(dynamic_cast<FsProvider&>(*monitor).providerName(), "replay");
}

TEST_F(Loader, AConfiguredHomeFindsTheLibraryFromAnyDirectory) {
    const std::string home = binDirectory();
    use("[corvid]\nhome=" + home + "\n");
    char name[kLibraryNameSize];
    ASSERT_EQ(adjustDynamicLibraryName(name, sizeof name, "fsx", &config_), 0);
    EXPECT_EQ(std::string(name), home + kSep + "fsx" + kSuffix);

    testsupport::InDirectory cd(dir_.path());
    auto monitor = loadFsProvider("replay", &config_);
    ASSERT_TRUE(monitor) << lastLibraryError() << log_.text();
    // The library logs through this program's log.
    EXPECT_EQ(monitor->startMonitoring(), -1);
    EXPECT_TRUE(log_.has("replay - no event file"));
}

TEST_F(Loader, ALibraryWithoutAMonitorIsUnloadedAgain) {
    use("[corvid]\nhome=" + binDirectory() + "\n");
    EXPECT_FALSE(loadFsProvider("fstest_nofactory", &config_));
    EXPECT_FALSE(std::string(lastLibraryError()).empty());
    EXPECT_FALSE(loadFsProvider("fstest_nullfactory", &config_));
    EXPECT_EQ(trace(), "load nofactory\nunload nofactory\nload nullfactory\nunload nullfactory\n");
    EXPECT_FALSE(log_.has("cannot load DLL"));

    std::unique_ptr<DynamicLibrary> library;
    EXPECT_NE(loadLibraryAndFactory("fstest_nullfactory", &config_, "createMonitor", &library),
              nullptr);
    ASSERT_TRUE(library);
    EXPECT_EQ(closeLibrary(std::move(library)), 0);
    EXPECT_EQ(loadLibraryAndFactory("fstest_nullfactory", &config_, "noSuchSymbol", &library),
              nullptr);
    EXPECT_FALSE(library);
}

TEST_F(Loader, NamesThatDoNotFitFailWithoutLoading) {
    use("[corvid]\nhome=/h\n");
    const size_t exact = std::string("/h/fsx").size() + kSuffix.size();
    char name[kLibraryNameSize];
    EXPECT_EQ(adjustDynamicLibraryName(name, exact, "fsx", &config_), -1);
    EXPECT_EQ(adjustDynamicLibraryName(name, exact + 1, "fsx", &config_), 0);
    EXPECT_EQ(adjustDynamicLibraryName(name, sizeof name, "", &config_), -1);
    EXPECT_EQ(adjustDynamicLibraryName(name, sizeof name, nullptr, &config_), -1);

    const std::string tooLong(kLibraryNameSize, 'n');
    EXPECT_FALSE(loadFsProvider(tooLong.c_str(), &config_));
    EXPECT_FALSE(loadFsProvider("", &config_));
    EXPECT_FALSE(log_.has("cannot load DLL"));
}

TEST_F(Loader, AMissingLibraryIsReportedWithThePlatformsReason) {
    use("[corvid]\nhome=" + binDirectory() + "\n");
    EXPECT_FALSE(loadFsProvider("nosuchprovider", &config_));
    const std::string reason = lastLibraryError();
    EXPECT_FALSE(reason.empty());
    const std::string file = binDirectory() + kSep + "nosuchprovider" + kSuffix;
    EXPECT_TRUE(log_.has("*** Error: cannot load DLL '" + file + "' (" + reason + ")"))
        << log_.text();

    EXPECT_EQ(libraryErrorText(0xDEADBEEF, ""), "E:deadbeef");
    EXPECT_EQ(libraryErrorText(5, "Access is denied."), "Access is denied.");
    EXPECT_EQ(libraryErrorText(5, std::string(3000, 'x')).size(), kLibraryErrorTextSize - 1);
    EXPECT_EQ(closeLibrary(nullptr), -1);
    EXPECT_STREQ(lastLibraryError(), "Invalid handle");
}
