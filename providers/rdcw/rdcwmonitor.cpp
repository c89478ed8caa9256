// The ReadDirectoryChangesW provider: one directory handle per monitored root, watched with its
// subtree when the root is recursive; one thread issues every read as overlapped I/O with a
// completion routine and waits alertably, so any number of roots share it.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <future>
#include <memory>
#include <vector>

#include "common/providerbase.h"

namespace {

constexpr char kLogModule[] = "providers/rdcw";

constexpr DWORD kNotifyFilter = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                FILE_NOTIFY_CHANGE_ATTRIBUTES | FILE_NOTIFY_CHANGE_SIZE |
                                FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_CREATION;
// Changes the system keeps between two reads; a larger one is refused for network drives,
// which then get the largest they accept.
constexpr DWORD kBufferBytes = 1024 * 1024;
constexpr DWORD kNetworkBufferBytes = 64 * 1024;
// How often the roots are looked at: a root moved away gives no notification at all.
constexpr ULONGLONG kRootCheckMs = 1000;

uint32_t actionOf(DWORD fileAction) {
    switch (fileAction) {
        case FILE_ACTION_ADDED:
            return FS_ACTION_ADDED;
        case FILE_ACTION_REMOVED:
            return FS_ACTION_REMOVED;
        case FILE_ACTION_MODIFIED:
            return FS_ACTION_MODIFIED;
        case FILE_ACTION_RENAMED_OLD_NAME:
            return FS_ACTION_OLD_NAME;
        case FILE_ACTION_RENAMED_NEW_NAME:
            return FS_ACTION_NEW_NAME;
        default:
            return FS_ACTION_NONE;
    }
}

bool isDirectory(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

class RdcwMonitor;

struct Watch {
    RdcwMonitor* owner;
    size_t root;
    std::wstring prefix;  // the root with a trailing separator
    bool recursive;
    HANDLE directory = INVALID_HANDLE_VALUE;
    OVERLAPPED overlapped{};
    std::vector<DWORD> buffer;  // DWORD-aligned, as the call requires
    bool pending = false;       // a read is outstanding
    bool reissue = false;       // a read is due once the provider no longer holds
    bool active = true;
};

class RdcwMonitor final : public ProviderBase {
  public:
    explicit RdcwMonitor(FsConfig* config) : ProviderBase("rdcw", config) {
        wakeEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    }

    ~RdcwMonitor() override {
        cleanup();
        if (wakeEvent_)
            CloseHandle(wakeEvent_);
    }

    int startMonitoring() override {
        std::lock_guard<std::recursive_mutex> lock(controlMutex_);
        if (worker_.running())
            return 0;
        if (wakeEvent_ == nullptr) {
            LOG_TRACE(log_, "rdcw - unable to start (error %lu)\n", GetLastError());
            return -1;
        }
        std::promise<void> started;
        std::future<void> ready = started.get_future();
        worker_.start([this, &started] { run(started); });
        ready.wait();  // every root is watched from here on
        return 0;
    }

    int cleanup() override { return stopMonitoring(); }

    int simulateLoss() override {
        simulateLoss_ = true;
        SetEvent(wakeEvent_);
        return 0;
    }

    // Runs on the worker thread, inside its alertable wait.
    void completed(Watch& watch, DWORD error, DWORD bytes) {
        watch.pending = false;
        if (!watch.active) {
            closeDirectory(watch);  // its read was cancelled when the root went
            return;
        }
        if (error == ERROR_OPERATION_ABORTED)
            return;
        if (error == ERROR_NOTIFY_ENUM_DIR || (error == ERROR_SUCCESS && bytes == 0)) {
            // The system's change buffer overflowed: what changed is unknown.
            delivery_.lost(watch.root, "change buffer overflow");
        } else if (error != ERROR_SUCCESS) {
            rootGone(watch, error);
            return;
        } else {
            parse(watch, bytes);
        }
        if (closing_)
            return;
        if (holding_)
            watch.reissue = true;  // the system keeps collecting changes meanwhile
        else
            issue(watch);
    }

  private:
    void wake() override { SetEvent(wakeEvent_); }

    bool acceptRoot(const MonitoredPath& path) override {
        if (!isDirectory(*path.path)) {
            LOG_TRACE(log_, "rdcw - '%ls' is not a directory\n", path.text());
            return false;
        }
        return true;
    }

    static void CALLBACK onCompletion(DWORD error, DWORD bytes, OVERLAPPED* overlapped) {
        Watch* watch = static_cast<Watch*>(overlapped->hEvent);
        watch->owner->completed(*watch, error, bytes);
    }

    bool issue(Watch& watch) {
        for (;;) {
            watch.overlapped = OVERLAPPED{};
            watch.overlapped.hEvent = &watch;  // free for the caller's use with a routine
            const DWORD size = static_cast<DWORD>(watch.buffer.size() * sizeof(DWORD));
            if (ReadDirectoryChangesW(watch.directory, watch.buffer.data(), size, watch.recursive,
                                      kNotifyFilter, nullptr, &watch.overlapped, onCompletion)) {
                watch.pending = true;
                watch.reissue = false;
                return true;
            }
            const DWORD error = GetLastError();
            if (error == ERROR_INVALID_PARAMETER && size > kNetworkBufferBytes) {
                watch.buffer.assign(kNetworkBufferBytes / sizeof(DWORD), 0);
                continue;
            }
            rootGone(watch, error);
            return false;
        }
    }

    void parse(Watch& watch, DWORD bytes) {
        const auto* base = reinterpret_cast<const BYTE*>(watch.buffer.data());
        DWORD offset = 0;
        constexpr DWORD kHeader = offsetof(FILE_NOTIFY_INFORMATION, FileName);
        for (;;) {
            // The last record is only as long as its name (shorter than the structure).
            if (offset + kHeader > bytes)
                break;
            const auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(base + offset);
            if (info->FileNameLength > bytes - offset - kHeader)
                break;
            const size_t length = info->FileNameLength / sizeof(WCHAR);
            const uint32_t action = actionOf(info->Action);
            if (action != FS_ACTION_NONE) {
                std::wstring path = watch.prefix + std::wstring(info->FileName, length);
                // A directory's own record has nothing a change of it could refresh.
                if (action != FS_ACTION_MODIFIED || !isDirectory(path))
                    batch_.add(watch.root, action, std::move(path));
            }
            if (info->NextEntryOffset == 0)
                break;
            offset += info->NextEntryOffset;
        }
    }

    void closeDirectory(Watch& watch) {
        if (watch.directory != INVALID_HANDLE_VALUE)
            CloseHandle(watch.directory);
        watch.directory = INVALID_HANDLE_VALUE;
    }

    // The handle goes as soon as no read is outstanding, so that it does not keep a removed
    // directory in being.
    void rootGone(Watch& watch, DWORD error) {
        if (!watch.active)
            return;
        watch.active = false;
        if (watch.pending)
            CancelIo(watch.directory);
        else
            closeDirectory(watch);
        LOG_TRACE(log_, "rdcw - monitored root '%ls' is gone (error %lu)\n", watch.prefix.c_str(),
                  error);
        delivery_.rootGone(watch.root);
        batch_.add(watch.root, FS_ACTION_REMOVED, rootEventPath(watch.prefix));
    }

    void openWatches() {
        closing_ = false;
        watches_.clear();
        for (size_t i = 0; i < roots_.size(); ++i) {
            auto watch = std::make_unique<Watch>();
            watch->owner = this;
            watch->root = i;
            watch->prefix = *roots_[i].path;
            if (watch->prefix.back() != L'\\')
                watch->prefix += L'\\';
            watch->recursive = roots_[i].recursive != 0;
            watch->buffer.assign(kBufferBytes / sizeof(DWORD), 0);
            watch->directory = CreateFileW(
                watch->prefix.c_str(), FILE_LIST_DIRECTORY,
                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
            if (watch->directory == INVALID_HANDLE_VALUE) {
                LOG_TRACE(log_, "rdcw - unable to open '%ls' (error %lu)\n", watch->prefix.c_str(),
                          GetLastError());
                watch->active = false;
            } else {
                issue(*watch);
            }
            watches_.push_back(std::move(watch));
        }
    }

    void closeWatches() {
        closing_ = true;  // a read completing now is not issued again
        for (auto& watch : watches_) {
            if (watch->pending && watch->directory != INVALID_HANDLE_VALUE)
                CancelIo(watch->directory);
        }
        // Each cancelled read still calls its routine; the buffers must live until then.
        const ULONGLONG deadline = GetTickCount64() + 5000;
        for (;;) {
            bool pending = false;
            for (auto& watch : watches_)
                pending = pending || watch->pending;
            if (!pending || GetTickCount64() > deadline)
                break;
            SleepEx(10, TRUE);
        }
        for (auto& watch : watches_)
            closeDirectory(*watch);
        watches_.clear();
    }

    // A root whose path no longer leads to a directory was moved away or removed.
    void checkRoots() {
        for (auto& watch : watches_) {
            if (watch->active && !isDirectory(watch->prefix))
                rootGone(*watch, GetLastError());
        }
    }

    void run(std::promise<void>& started) {
        openWatches();
        started.set_value();
        ULONGLONG nextCheck = GetTickCount64() + kRootCheckMs;
        while (!worker_.stopRequested()) {
            holding_ = worker_.answerHold();
            if (!holding_) {
                for (auto& watch : watches_) {
                    if (watch->active && watch->reissue)
                        issue(*watch);
                }
            }
            const int timeout = delivery_.waitMs(batch_);
            const ULONGLONG now = GetTickCount64();
            const ULONGLONG untilCheck = nextCheck > now ? nextCheck - now : 0;
            WaitForSingleObjectEx(
                wakeEvent_,
                static_cast<DWORD>(timeout < 0 ? untilCheck
                                               : std::min<ULONGLONG>(untilCheck, timeout)),
                TRUE);
            if (worker_.stopRequested())
                break;
            if (GetTickCount64() >= nextCheck) {
                checkRoots();
                nextCheck = GetTickCount64() + kRootCheckMs;
            }
            if (simulateLoss_.exchange(false)) {
                for (auto& watch : watches_) {
                    if (watch->active)
                        delivery_.lost(watch->root, "simulated loss");
                }
            }
            delivery_.deliverDue(batch_);
        }
        closeWatches();
        if (!batch_.empty())
            delivery_.deliver(batch_);
    }

    HANDLE wakeEvent_ = nullptr;
    std::vector<std::unique_ptr<Watch>> watches_;  // worker thread only
    EventBatch batch_;                             // worker thread only
    // Worker thread only: while holding, reads are not issued again; while closing, never.
    bool holding_ = false;
    bool closing_ = false;
    std::atomic<bool> simulateLoss_{false};
};

}  // namespace

VIGIL_PROVIDER_FACTORY(RdcwMonitor)
