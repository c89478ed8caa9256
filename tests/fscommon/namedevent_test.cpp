#include "sync/namedevent.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "testsupport.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>

#include "sync/shmobject_posix.h"
#include "text/utf8.h"
#endif

namespace {

std::wstring freshName() {
    return L"Global\\" + testsupport::uniqueName(L"vigil-event-test-");
}

}  // namespace

TEST(NamedEvent, SecondOpenerSeesTheFirst) {
    const std::wstring name = freshName();
    auto first = NamedEvent::create(name.c_str(), true, false);
    ASSERT_TRUE(first);
    EXPECT_FALSE(first->alreadyExisted());
    auto second = NamedEvent::create(name.c_str(), true, false);
    ASSERT_TRUE(second);
    EXPECT_TRUE(second->alreadyExisted());
    EXPECT_EQ(second->waitTimeout(0), -20);
    ASSERT_TRUE(first->set());
    EXPECT_EQ(second->waitTimeout(0), 0);
    EXPECT_EQ(second->wait(), 0);  // manual reset: stays set
    ASSERT_TRUE(second->reset());
    EXPECT_EQ(first->waitTimeout(0), -20);
}

TEST(NamedEvent, VanishesWithItsLastHandle) {
    const std::wstring name = freshName();
    {
        auto event = NamedEvent::create(name.c_str(), true, false);
        ASSERT_TRUE(event);
        event->set();
    }
    auto again = NamedEvent::create(name.c_str(), true, false);
    ASSERT_TRUE(again);
    EXPECT_FALSE(again->alreadyExisted());
    EXPECT_EQ(again->waitTimeout(0), -20);  // a new object, not the old set one
}

TEST(NamedEvent, AutoResetReleasesOneWait) {
    const std::wstring name = freshName();
    auto event = NamedEvent::create(name.c_str(), false, true);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->waitTimeout(0), 0);
    EXPECT_EQ(event->waitTimeout(0), -20);
}

TEST(NamedEvent, SetWakesAWaiterInAnotherThread) {
    const std::wstring name = freshName();
    auto event = NamedEvent::create(name.c_str(), true, false);
    ASSERT_TRUE(event);
    std::atomic<int> result{1};
    std::thread waiter([&] {
        auto mine = NamedEvent::create(name.c_str(), true, false);
        result = mine ? mine->wait() : -99;
    });
    event->set();
    waiter.join();
    EXPECT_EQ(result.load(), 0);
}

TEST(NamedEvent, GlobalAndPlainNamesAreDistinctFromOthers) {
    const std::wstring base = testsupport::uniqueName(L"vigil-event-test-");
    auto a = NamedEvent::create((L"Global\\" + base).c_str(), true, false);
    auto b = NamedEvent::create((L"Global\\" + base + L"x").c_str(), true, false);
    ASSERT_TRUE(a && b);
    EXPECT_FALSE(b->alreadyExisted());
}

#if !defined(_WIN32)

using testsupport::objectFile;

TEST(SharedObjects, ModesOfDirectoryAndFile) {
    const std::wstring name = freshName();
    auto event = NamedEvent::create(name.c_str(), true, false);
    ASSERT_TRUE(event);
    struct stat st;
    ASSERT_EQ(lstat(shmObjectDirectory().c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_EQ(st.st_uid, geteuid());
    ASSERT_EQ(lstat(objectFile(name).c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    event.reset();
    EXPECT_NE(lstat(objectFile(name).c_str(), &st), 0) << "the last holder removes the file";
}

TEST(SharedObjects, PlantedSymbolicLinkIsRefused) {
    const std::wstring name = freshName();
    testsupport::TempDir dir;
    const std::string target = (dir.path() / "target").string();
    testsupport::writeText(target, std::string(4096, '\0'));
    ASSERT_EQ(symlink(target.c_str(), objectFile(name).c_str()), 0);
    EXPECT_FALSE(NamedEvent::create(name.c_str(), true, false));
    unlink(objectFile(name).c_str());
    EXPECT_EQ(testsupport::readText(target), std::string(4096, '\0')) << "target untouched";
}

TEST(SharedObjects, FileNamesAreSafeAndLongNamesShortened) {
    EXPECT_EQ(shmFileName(L"Global\\a/b.c"), "a%2Fb%2Ec");
    EXPECT_EQ(shmFileName(L"GLOBAL\\x"), shmFileName(L"Local\\x"));
    EXPECT_EQ(shmFileName(L"x"), shmFileName(L"Global\\x"));
    EXPECT_EQ(shmFileName(L".."), "%2E%2E");
    const std::wstring longA = L"Global\\" + std::wstring(5000, L'a');
    const std::wstring longB = L"Global\\" + std::wstring(4999, L'a') + L"b";
    const std::string fa = shmFileName(longA.c_str());
    EXPECT_LE(fa.size(), 255u);
    EXPECT_NE(fa, shmFileName(longB.c_str()));
    auto event = NamedEvent::create(longA.c_str(), true, false);
    ASSERT_TRUE(event);
    auto again = NamedEvent::create(longA.c_str(), true, false);
    ASSERT_TRUE(again);
    EXPECT_TRUE(again->alreadyExisted());
}

#endif
