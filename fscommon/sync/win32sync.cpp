#include "sync/win32sync.h"

#include <cwchar>

#include "system/sysinfo.h"
#include "text/strutil.h"

namespace {

constexpr char kLogModule[] = "fscommon/win32sync";

// The name a factory gives the platform: as it stands when it names a namespace or holds a
// backslash, else in the global namespace.
std::wstring objectName(const wchar_t* name) {
    return objectNamespace(name) != 0 ? std::wstring(name) : *addGlobalPrefix(name);
}

int lastErrorCode() {
    return static_cast<int>(sysinfo::lastError());
}

}  // namespace

SyncObject::SyncObject(std::unique_ptr<NamedSyncHandle> handle)
    : created(handle && !handle->alreadyExisted()),
      handle_(std::move(handle)),
      log_(getRkLogFs()) {}

WaitStatus SyncObject::waitHandle(unsigned ms) {
    if (!handle_) {
        sysinfo::setLastError(sysinfo::kErrorInvalidHandleCode);
        return WaitStatus::Failed;
    }
    return handle_->wait(ms);
}

Win32Semaphore::Win32Semaphore(const wchar_t* name)
    : SyncObject(NamedSyncHandle::createSemaphore(name, 0, kMaximumCount)) {}

bool Win32Semaphore::release() {
    return handle_ && handle_->releaseSemaphore();
}

int Win32Semaphore::waitTimeout(unsigned ms) {
    switch (waitHandle(ms)) {
        case WaitStatus::Signaled:
            return 0;
        case WaitStatus::Timeout:
            return SYNC_TIMEOUT;
        default:
            return SYNC_FAILED;
    }
}

int Win32Semaphore::wait() {
    return waitHandle(kWaitInfinite) == WaitStatus::Signaled ? 0 : SYNC_FAILED;
}

Win32Mutex::Win32Mutex(const wchar_t* name) : SyncObject(NamedSyncHandle::createMutex(name)) {}

bool Win32Mutex::release() {
    return handle_ && handle_->releaseMutex();
}

int Win32Mutex::wait() {
    const WaitStatus status = waitHandle(kWaitInfinite);
    if (status == WaitStatus::Signaled)
        return 0;
    if (status == WaitStatus::Abandoned) {
        LOG_TRACE_AS(log_, "wait", "Win32Mutex::wait() - get WAIT_ABANDONED\n");
        return 0;
    }
    LOG_TRACE_AS(log_, "wait", "Win32Mutex::wait() - mutex failed with error code %d\n",
                 lastErrorCode());
    return SYNC_FAILED;
}

int Win32Mutex::waitTimeout(unsigned ms) {
    const WaitStatus status = waitHandle(ms);
    switch (status) {
        case WaitStatus::Signaled:
            return 0;
        case WaitStatus::Timeout:
            return SYNC_TIMEOUT;
        case WaitStatus::Abandoned:
            LOG_TRACE_AS(log_, "wait", "Win32Mutex::wait() - get WAIT_ABANDONED\n");
            return 0;
        default:
            LOG_TRACE_AS(log_, "wait",
                         "Win32Mutex::wait(timeout = %d) - mutex failed with error code %d\n",
                         static_cast<int>(ms), lastErrorCode());
            return SYNC_FAILED;
    }
}

int Thread::entry(void* runnable) {
    if (runnable == nullptr)
        return THREAD_RESUME_FAILED;
    static_cast<Runnable*>(runnable)->run();
    return 0;
}

int Thread::create() {
    handle_ = ThreadHandle::createSuspended(stackSize_, entry, runnable_, &threadId_);
    return handle_ ? 0 : THREAD_CREATE_FAILED;
}

int Thread::start() {
    if (!handle_) {
        const int r = create();
        if (r != 0)
            return r;
    }
    return handle_->resume() ? 0 : THREAD_RESUME_FAILED;
}

int Thread::waitTimeout(unsigned ms) {
    if (!handle_)
        return THREAD_WAIT_FAILED;
    switch (handle_->wait(ms)) {
        case WaitStatus::Signaled:
            return 0;
        case WaitStatus::Timeout:
            return THREAD_WAIT_TIMEOUT;
        default:
            return THREAD_WAIT_FAILED;
    }
}

int Thread::wait() {
    if (!handle_)
        return THREAD_WAIT_FAILED;
    return handle_->wait(kWaitInfinite) == WaitStatus::Signaled ? 0 : THREAD_WAIT_FAILED;
}

std::unique_ptr<SyncObject> createSemaphore(const wchar_t* name) {
    if (name == nullptr)
        return nullptr;
    return std::make_unique<Win32Semaphore>(objectName(name).c_str());
}

std::unique_ptr<SyncObject> createMutex(const wchar_t* name) {
    if (name == nullptr)
        return nullptr;
    return std::make_unique<Win32Mutex>(objectName(name).c_str());
}

std::unique_ptr<Thread> createThread(Runnable* runnable) {
    return std::make_unique<Thread>(runnable);
}

std::optional<std::wstring> addGlobalPrefix(const wchar_t* name) {
    if (name == nullptr)
        return std::nullopt;
    return std::wstring(L"Global\\") + name;
}

int objectNamespace(const wchar_t* name) {
    if (name == nullptr)
        return 0;
    const std::wstring upper = toUpper(std::wstring(name));
    if (upper.rfind(L"GLOBAL\\", 0) == 0)
        return 3;
    if (upper.rfind(L"LOCAL\\", 0) == 0)
        return 2;
    return upper.find(L'\\') != std::wstring::npos ? 1 : 0;
}
