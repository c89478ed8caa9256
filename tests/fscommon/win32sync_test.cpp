#include "sync/win32sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "sync/namedevent.h"
#include "testsupport.h"

using testsupport::Child;

namespace {

std::wstring freshName(const wchar_t* kind) {
    return testsupport::uniqueName((std::wstring(L"vigil-") + kind + L"-").c_str());
}

// Runs synchelper for the object called name and waits until it reports ready.
std::unique_ptr<Child> startHelper(const std::wstring& name, const wchar_t* kind,
                                   const wchar_t* action, const wchar_t* then) {
    auto ready = NamedEvent::create((name + L"_ready").c_str(), true, false);
    if (!ready)
        return nullptr;
    auto child = Child::start(testsupport::programPath(L"synchelper"), {kind, name, action, then});
    if (!child || ready->waitTimeout(60000) != 0)
        return nullptr;
    return child;
}

void letHelperGo(const std::wstring& name) {
    auto go = NamedEvent::create((name + L"_go").c_str(), true, false);
    ASSERT_TRUE(go);
    go->set();
}

}  // namespace

TEST(ObjectNames, NamespacesAndPrefix) {
    EXPECT_EQ(objectNamespace(L"Global\\x"), 3);
    EXPECT_EQ(objectNamespace(L"GLOBAL\\x"), 3);
    EXPECT_EQ(objectNamespace(L"Local\\x"), 2);
    EXPECT_EQ(objectNamespace(L"local\\x"), 2);
    EXPECT_EQ(objectNamespace(L"session\\lock"), 1);
    EXPECT_EQ(objectNamespace(L"x"), 0);
    EXPECT_EQ(objectNamespace(nullptr), 0);
    EXPECT_EQ(addGlobalPrefix(L"x"), std::wstring(L"Global\\x"));
    EXPECT_FALSE(addGlobalPrefix(nullptr).has_value());
    EXPECT_EQ(createMutex(nullptr), nullptr);
    EXPECT_EQ(createSemaphore(nullptr), nullptr);
}

TEST(ObjectNames, PlainNameAndGlobalNameAreTheSameObject) {
    const std::wstring name = freshName(L"mutex");
    auto plain = createMutex(name.c_str());
    auto global = createMutex((L"Global\\" + name).c_str());
    ASSERT_TRUE(plain && global);
    EXPECT_TRUE(plain->created);
    EXPECT_FALSE(global->created);
}

TEST(Win32Mutex, RecursiveOwnership) {
    const std::wstring name = freshName(L"mutex");
    auto mutex = createMutex(name.c_str());
    ASSERT_TRUE(mutex);
    EXPECT_EQ(mutex->wait(), 0);
    EXPECT_EQ(mutex->waitTimeout(0), 0);  // the owner waits again without blocking
    int other = 1;
    std::thread([&] {
        auto mine = createMutex(name.c_str());
        other = mine->waitTimeout(0);
    }).join();
    EXPECT_EQ(other, SYNC_TIMEOUT);
    EXPECT_TRUE(mutex->release());
    std::thread([&] { other = createMutex(name.c_str())->waitTimeout(0); }).join();
    EXPECT_EQ(other, SYNC_TIMEOUT) << "one release per wait";
    EXPECT_TRUE(mutex->release());
    EXPECT_FALSE(mutex->release()) << "not owned any more";
    std::thread([&] {
        auto mine = createMutex(name.c_str());
        other = mine->waitTimeout(0);
        mine->release();
    }).join();
    EXPECT_EQ(other, 0);
}

TEST(Win32Mutex, TimesOutWhileAnotherProcessHoldsIt) {
    const std::wstring name = freshName(L"mutex");
    auto mutex = createMutex(name.c_str());
    ASSERT_TRUE(mutex);
    auto helper = startHelper(name, L"mutex", L"lock", L"wait");
    ASSERT_TRUE(helper);
    EXPECT_EQ(mutex->waitTimeout(0), SYNC_TIMEOUT);
    EXPECT_EQ(mutex->waitTimeout(50), SYNC_TIMEOUT);
    letHelperGo(name);
    EXPECT_EQ(mutex->waitTimeout(60000), 0);
    EXPECT_EQ(helper->wait(), 11);
    EXPECT_TRUE(mutex->release());
}

TEST(Win32Mutex, HolderThatEndsWithoutReleasingAbandonsIt) {
    testsupport::LogCapture log;
    const std::wstring name = freshName(L"mutex");
    auto mutex = createMutex(name.c_str());  // keeps the object alive across the helper
    ASSERT_TRUE(mutex);
    auto helper = startHelper(name, L"mutex", L"lock", L"exit");
    ASSERT_TRUE(helper);
    EXPECT_EQ(helper->wait(), 11);
    EXPECT_EQ(mutex->wait(), 0);
    EXPECT_TRUE(log.has("Win32Mutex::wait() - get WAIT_ABANDONED"));
    EXPECT_TRUE(mutex->release());
}

TEST(Win32Mutex, KilledHolderAbandonsItToATimedWait) {
    testsupport::LogCapture log;
    const std::wstring name = freshName(L"mutex");
    auto mutex = createMutex(name.c_str());
    ASSERT_TRUE(mutex);
    auto helper = startHelper(name, L"mutex", L"lock", L"hang");
    ASSERT_TRUE(helper);
    EXPECT_EQ(mutex->waitTimeout(0), SYNC_TIMEOUT);
    helper->kill();
    EXPECT_EQ(mutex->waitTimeout(60000), 0);
    EXPECT_TRUE(log.has("Win32Mutex::wait() - get WAIT_ABANDONED"));
    EXPECT_TRUE(mutex->release());
}

TEST(Win32Semaphore, CountsAndLimits) {
    const std::wstring name = freshName(L"semaphore");
    auto sem = createSemaphore(name.c_str());
    ASSERT_TRUE(sem);
    EXPECT_EQ(sem->waitTimeout(0), SYNC_TIMEOUT);
    for (uint32_t i = 0; i < Win32Semaphore::kMaximumCount; ++i) {
        ASSERT_TRUE(sem->release()) << i;
    }
    EXPECT_FALSE(sem->release()) << "past the maximum";
    EXPECT_EQ(sem->waitTimeout(0), 0);
    EXPECT_TRUE(sem->release());
    EXPECT_FALSE(sem->release());
}

TEST(Win32Semaphore, ReleaseWakesAWaiter) {
    const std::wstring name = freshName(L"semaphore");
    auto sem = createSemaphore(name.c_str());
    ASSERT_TRUE(sem);
    std::atomic<int> got{1};
    std::thread waiter([&] { got = createSemaphore(name.c_str())->wait(); });
    EXPECT_TRUE(sem->release());
    waiter.join();
    EXPECT_EQ(got.load(), 0);
    EXPECT_EQ(sem->waitTimeout(0), SYNC_TIMEOUT) << "the count went to the waiter";
}

TEST(SyncObject, CreatedUntilEveryHolderHasGone) {
    const std::wstring name = freshName(L"semaphore");
    auto first = createSemaphore(name.c_str());
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->created);
    auto helper = startHelper(name, L"semaphore", L"open", L"hang");
    ASSERT_TRUE(helper);
    first.reset();
    auto second = createSemaphore(name.c_str());
    EXPECT_FALSE(second->created) << "the helper still holds it";
    second.reset();
    helper->kill();
    auto third = createSemaphore(name.c_str());
    EXPECT_TRUE(third->created) << "gone with its last holder";
}

namespace {

class Flag : public Runnable {
  public:
    void run() override { ran = true; }
    std::atomic<bool> ran{false};
};

class Latch : public Runnable {
  public:
    void run() override {
        while (!open)
            sleepMs(1);
    }
    std::atomic<bool> open{false};
};

class FailingThread : public Thread {
  public:
    using Thread::Thread;
    int create() override { return THREAD_CREATE_FAILED; }
};

}  // namespace

TEST(Thread, RunsOnlyAfterStart) {
    Flag flag;
    auto thread = createThread(&flag);
    ASSERT_EQ(thread->create(), 0);
    EXPECT_NE(thread->threadId(), 0xFFFFFFFFu);
    EXPECT_EQ(thread->waitTimeout(200), THREAD_WAIT_TIMEOUT) << "suspended threads do not end";
    EXPECT_FALSE(flag.ran);
    ASSERT_EQ(thread->start(), 0);
    EXPECT_EQ(thread->wait(), 0);
    EXPECT_TRUE(flag.ran);
}

TEST(Thread, StartCreatesWhenNeededAndWaitTimesOut) {
    Latch latch;
    Thread thread(&latch);
    EXPECT_EQ(thread.waitTimeout(0), THREAD_WAIT_FAILED) << "no thread yet";
    ASSERT_EQ(thread.start(), 0);
    EXPECT_EQ(thread.waitTimeout(20), THREAD_WAIT_TIMEOUT);
    latch.open = true;
    EXPECT_EQ(thread.waitTimeout(60000), 0);
}

TEST(Thread, FailedCreateLeavesNoThread) {
    Flag flag;
    FailingThread thread(&flag);
    EXPECT_EQ(thread.start(), THREAD_CREATE_FAILED);
    EXPECT_FALSE(thread.hasHandle());
    EXPECT_EQ(thread.wait(), THREAD_WAIT_FAILED);
    EXPECT_FALSE(flag.ran);
}

TEST(Thread, NeverStartedThreadNeverRuns) {
    Flag flag;
    {
        auto thread = createThread(&flag);
        ASSERT_EQ(thread->create(), 0);
    }
    EXPECT_FALSE(flag.ran);
    Thread empty(nullptr);
    ASSERT_EQ(empty.start(), 0);
    EXPECT_EQ(empty.wait(), 0);
}

#if !defined(_WIN32)

#include <sys/stat.h>
#include <unistd.h>

using testsupport::objectFile;

namespace {

// The factory still hands out an object, but one whose waits fail.
void expectRefused(const std::wstring& name) {
    testsupport::LogCapture log;
    auto mutex = createMutex(name.c_str());
    ASSERT_TRUE(mutex);
    EXPECT_FALSE(mutex->created);
    EXPECT_EQ(mutex->wait(), SYNC_FAILED);
    EXPECT_EQ(mutex->waitTimeout(10), SYNC_FAILED);
    EXPECT_FALSE(mutex->release());
    EXPECT_TRUE(log.has("Win32Mutex::wait() - mutex failed with error code 6"));
    EXPECT_TRUE(log.has("Win32Mutex::wait(timeout = 10) - mutex failed with error code 6"));
}

}  // namespace

TEST(SharedObjectFiles, LinkDirectoryOrForeignFileInPlaceOfAMutexIsRefused) {
    createMutex(L"vigil-dir-warmup");  // makes sure the per-user directory exists
    testsupport::TempDir dir;
    const std::string target = (dir.path() / "target").string();
    testsupport::writeText(target, std::string(4096, 'x'));

    const std::wstring linked = freshName(L"mutex");
    ASSERT_EQ(symlink(target.c_str(), objectFile(linked).c_str()), 0);
    expectRefused(linked);
    unlink(objectFile(linked).c_str());
    EXPECT_EQ(testsupport::readText(target), std::string(4096, 'x')) << "target untouched";

    const std::wstring directory = freshName(L"mutex");
    ASSERT_EQ(mkdir(objectFile(directory).c_str(), 0700), 0);
    expectRefused(directory);
    rmdir(objectFile(directory).c_str());

    if (geteuid() == 0) {
        const std::wstring foreign = freshName(L"mutex");
        testsupport::writeText(objectFile(foreign), std::string(4096, '\0'));
        ASSERT_EQ(chown(objectFile(foreign).c_str(), 12345, 12345), 0);
        expectRefused(foreign);
        unlink(objectFile(foreign).c_str());
    }
}

TEST(SharedObjectFiles, RemovedFilesArePutBackWithTheirState) {
    const std::wstring mutexName = freshName(L"mutex");
    const std::wstring semaphoreName = freshName(L"semaphore");
    auto mutex = createMutex(mutexName.c_str());
    auto semaphore = createSemaphore(semaphoreName.c_str());
    ASSERT_TRUE(mutex && semaphore);
    ASSERT_TRUE(semaphore->release() && semaphore->release());
    for (const std::wstring& name : {mutexName, semaphoreName}) {
        const std::string file = objectFile(name);
        ASSERT_EQ(unlink(file.c_str()), 0);
        struct stat st;
        EXPECT_TRUE(testsupport::pollUntil([&] { return lstat(file.c_str(), &st) == 0; }));
    }
    // Openers by name reach the same objects again: the count went over, the lock excludes.
    auto sameSemaphore = createSemaphore(semaphoreName.c_str());
    ASSERT_TRUE(sameSemaphore);
    EXPECT_FALSE(sameSemaphore->created);
    EXPECT_EQ(sameSemaphore->waitTimeout(0), 0);
    EXPECT_EQ(semaphore->waitTimeout(0), 0);
    EXPECT_EQ(sameSemaphore->waitTimeout(0), SYNC_TIMEOUT);

    ASSERT_EQ(mutex->wait(), 0);
    std::atomic<int> result{1};
    std::thread other([&] {
        auto sameMutex = createMutex(mutexName.c_str());
        result = sameMutex ? sameMutex->waitTimeout(0) : -99;
    });
    other.join();
    EXPECT_EQ(result.load(), SYNC_TIMEOUT);
    EXPECT_TRUE(mutex->release());
}

#endif
