// The monitor's own files and named objects against other users and hostile file systems:
// nothing is written through what someone else put in place of the monitor's files, nothing
// hangs on it, nothing is left in the caller's directory, and another user cannot take the
// place of the named objects.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "testsupport.h"
#include "vigilprocess.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#endif

namespace fs = std::filesystem;
using testsupport::Child;
using testsupport::InDirectory;

namespace {

// Things someone may put in place of a file; each returns false where the platform (or Wine)
// cannot make it.
struct Plant {
    const char* what;
    std::function<bool(const fs::path& at, const fs::path& target)> make;
};

bool succeeded(const std::function<void(std::error_code&)>& call) {
    std::error_code ec;
    call(ec);
    return !ec;
}

std::vector<Plant> plants() {
    return {
        {"directory", [](const fs::path& at, const fs::path&) { return fs::create_directory(at); }},
            {"symbolic link",
             [](const fs::path& at, const fs::path& target) {
                 return succeeded([&](std::error_code& ec) { fs::create_symlink(target, at, ec); });
             }},
#if !defined(_WIN32)
            {"fifo",
             [](const fs::path& at, const fs::path&) { return mkfifo(at.c_str(), 0666) == 0; }},
#endif
    };
}

}  // namespace

TEST_F(VigilProcess, PidFileIsNeverWrittenThroughWhatStandsInItsPlace) {
    const fs::path pidFile = workDir_ / "mon_proc.id";
    const fs::path target = dir_.path() / "target";
    const fs::path missing = dir_.path() / "missing";
    for (const Plant& plant : plants()) {
        for (const fs::path& to : {target, missing}) {
            SCOPED_TRACE(std::string(plant.what) + " to " + to.string());
            fs::remove_all(pidFile);
            fs::remove(dir_.path() / "log.txt");
            testsupport::writeText(target, "precious");
            if (!plant.make(pidFile, to)) {
                std::cout << "cannot make a " << plant.what << " here\n";
                continue;
            }
            const fs::file_type planted = fs::symlink_status(pidFile).type();
            auto monitor = startMonitor(wd());  // a FIFO must not hold up the start
            ASSERT_TRUE(monitor);
            EXPECT_TRUE(logHas("[vigil]::createMonitorPID - unable to create"));
            stopMonitor(*monitor, wd());
            EXPECT_EQ(fs::symlink_status(pidFile).type(), planted) << "left as it was";
            EXPECT_EQ(testsupport::readText(target), "precious");
            EXPECT_FALSE(fs::exists(missing));
        }
    }

    // A second name of another file is replaced, not written through.
    fs::remove_all(pidFile);
    if (!succeeded([&](std::error_code& ec) { fs::create_hard_link(target, pidFile, ec); })) {
        GTEST_SKIP() << "no hard links here";
    }
    auto monitor = startMonitor(wd());
    ASSERT_TRUE(monitor);
    EXPECT_EQ(pidInFile(pidFile), monitor->pid());
    stopMonitor(*monitor, wd());
    EXPECT_FALSE(fs::exists(pidFile));
    EXPECT_EQ(testsupport::readText(target), "precious");
}

TEST_F(VigilProcess, UnusableLogGoesToStderrWithTheReason) {
    const fs::path err = dir_.path() / "stderr.txt";
    const fs::path missing = dir_.path() / "missing";
    for (const bool inWorkDir : {false, true}) {
        for (const Plant& plant : plants()) {
            SCOPED_TRACE(std::string(plant.what) + (inWorkDir ? " in the working directory" : ""));
            const fs::path log = inWorkDir ? workDir_ / "vigil.log" : dir_.path() / "log";
            fs::remove_all(log);
            fs::remove(err);
            if (!plant.make(log, missing)) {
                std::cout << "cannot make a " << plant.what << " here\n";
                continue;
            }
            testsupport::setEnv(L"VIGIL_LOG", inWorkDir ? nullptr : log.wstring().c_str());
            auto stop = Child::start(vigil(), args(wd(), L"stop"), err);
            ASSERT_TRUE(stop);
            EXPECT_EQ(stop->wait(kStartTimeoutMs), 0);  // a FIFO must not hold it up
            const std::string text = testsupport::readText(err);
            const size_t why = text.find("cannot use [" + log.string() + "] as the log (");
            EXPECT_NE(why, std::string::npos) << text;
            EXPECT_NE(text.find("called to stop monitor", why), std::string::npos) << text;
            EXPECT_FALSE(fs::exists(missing));
        }
    }
#if defined(_WIN32)
    testsupport::setEnv(L"VIGIL_LOG", L"NUL");  // a device
    auto stop = Child::start(vigil(), args(wd(), L"stop"), err);
    ASSERT_TRUE(stop);
    EXPECT_EQ(stop->wait(kStartTimeoutMs), 0);
    EXPECT_NE(testsupport::readText(err).find("cannot use [NUL] as the log (not a regular file)"),
              std::string::npos);
#endif
}

TEST_F(VigilProcess, NothingIsWrittenIntoTheCurrentDirectory) {
    testsupport::setEnv(L"VIGIL_LOG", nullptr);
    testsupport::TempDir current;
    InDirectory in(current.path());
    const fs::path err = dir_.path() / "stderr.txt";
    auto refused = Child::start(vigil(), {L"a"}, err);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->wait(kStartTimeoutMs), 1);
    EXPECT_NE(testsupport::readText(err).find("[vigil]::main - bad number of parameters! [2<7]"),
              std::string::npos);

    // The log file is made by the first line that is kept, not before.
    testsupport::setEnv(L"VIGIL_LOG_LEVEL", L"error");
    EXPECT_EQ(testsupport::run(vigil(), args(wd(), L"stop")), 0);
    testsupport::setEnv(L"VIGIL_LOG_LEVEL", nullptr);
    EXPECT_FALSE(fs::exists(workDir_ / "vigil.log"));

    auto monitor = startMonitor(wd());
    ASSERT_TRUE(monitor);
    stopMonitor(*monitor, wd());
    EXPECT_NE(
        testsupport::readText(workDir_ / "vigil.log").find("[vigil]::main - stopping monitor"),
        std::string::npos);
    EXPECT_TRUE(fs::is_empty(current.path()));
}

#if !defined(_WIN32)

using testsupport::objectFile;

TEST_F(VigilProcess, FullSharedMemoryIsReportedNotACrash) {
    VIGIL_TEST_IN_PRIVATE_MOUNTS();
    ASSERT_TRUE(testsupport::mountTmpfs("/dev/shm", "size=64k,mode=1777"));
    const int fill = open("/dev/shm/fill", O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fill, 0);
    const char block[4096] = {};
    while (write(fill, block, sizeof block) > 0) {
    }
    close(fill);
    EXPECT_EQ(testsupport::run(vigil(), args(wd(), L"start")), 1);
    EXPECT_TRUE(logHas("ShmObject::open - cannot reserve")) << log();
    EXPECT_TRUE(logHas("[vigil]::main - cannot create event"));
}

TEST_F(VigilProcess, ObjectDirectoryTakenByAnotherUserIsAvoided) {
    VIGIL_TEST_IN_PRIVATE_MOUNTS();
    const passwd* me = getpwuid(geteuid());
    ASSERT_TRUE(me);
    ASSERT_TRUE(testsupport::mountTmpfs("/dev/shm", "mode=1777"));
    ASSERT_TRUE(testsupport::mountTmpfs(me->pw_dir, "mode=0700"));  // the fallback goes there
    uid_t intruder = 50000;
    while (getpwuid(intruder) != nullptr)
        ++intruder;
    const std::string taken = "/dev/shm/vigil-" + std::to_string(geteuid());
    ASSERT_EQ(mkdir(taken.c_str(), 0755), 0);
    ASSERT_EQ(chown(taken.c_str(), intruder, intruder), 0);

    auto monitor = startMonitor(wd());
    ASSERT_TRUE(monitor);
    EXPECT_TRUE(logHas("cannot use [" + taken + "] for named objects: a directory of uid " +
                       std::to_string(intruder)))
        << log();
    EXPECT_EQ(testsupport::run(vigil(), args(wd(), L"start")), 1) << "still a single instance";
    // When the intruder leaves, every process keeps to the place already chosen.
    ASSERT_EQ(rmdir(taken.c_str()), 0);
    stopMonitor(*monitor, wd());
}

TEST_F(VigilProcess, RemovedObjectFileIsPutBack) {
    auto monitor = startMonitor(wd());
    ASSERT_TRUE(monitor);
    const std::string file = objectFile(eventName(wd().c_str(), kStopEventSuffix));
    ASSERT_EQ(unlink(file.c_str()), 0);  // as systemd's RemoveIPC does at log-out
    struct stat st;
    EXPECT_TRUE(testsupport::pollUntil([&] { return lstat(file.c_str(), &st) == 0; }));
    EXPECT_EQ(testsupport::run(vigil(), args(wd(), L"start")), 1) << "still a single instance";
    stopMonitor(*monitor, wd());
    EXPECT_TRUE(logHas("was removed; put it back"));
}

TEST_F(VigilProcess, ObjectKeptLockedByAnotherProcessIsGivenUpOn) {
    const std::wstring name = eventName(wd().c_str(), kStopEventSuffix);
    auto held = NamedEvent::create(name.c_str(), true, false);
    ASSERT_TRUE(held);
    const int fd = open(objectFile(name).c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_len = 1;  // byte 0, which openers and closers take for a moment
    ASSERT_EQ(fcntl(fd, F_OFD_SETLK, &lock), 0);
    EXPECT_EQ(testsupport::run(vigil(), args(wd(), L"stop")), 1);
    close(fd);
    EXPECT_TRUE(logHas("another process has kept it locked")) << log();
    EXPECT_TRUE(logHas("[vigil]::main - cannot create event"));
}

#endif
