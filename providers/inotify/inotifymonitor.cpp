#include "inotify/inotifymonitor.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "text/utf8.h"

namespace {

constexpr char kLogModule[] = "providers/inotify";

constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY |
                                IN_ATTRIB | IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF |
                                IN_ONLYDIR | IN_DONT_FOLLOW | IN_EXCL_UNLINK;

std::string childPath(const std::string& dir, const char* name, size_t length) {
    std::string path = dir;
    if (path != "/")
        path += '/';
    path.append(name, length);
    return path;
}

bool isDirectoryEntry(int dirFd, const dirent* entry) {
    if (entry->d_type == DT_DIR)
        return true;
    if (entry->d_type != DT_UNKNOWN)
        return false;
    struct stat st;
    return fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

InotifyMonitor::InotifyMonitor(FsConfig* config) : ProviderBase("inotify", config) {}

InotifyMonitor::~InotifyMonitor() {
    cleanup();
}

bool InotifyMonitor::acceptRoot(const MonitoredPath& path) {
    const std::string bytes = utf8::fromWide(*path.path);
    struct stat st;
    if (lstat(bytes.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        LOG_TRACE(log_, "inotify - '%ls' is not a directory\n", path.text());
        return false;
    }
    return true;
}

int InotifyMonitor::startMonitoring() {
    std::lock_guard<std::recursive_mutex> lock(controlMutex_);
    if (worker_.running())
        return 0;
    if (fd_ < 0) {
        fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (fd_ < 0 || wakeFd_ < 0) {
            LOG_TRACE(log_, "inotify - unable to start (%s)\n", std::strerror(errno));
            cleanup();
            return -1;
        }
        rootState_.clear();
        for (const MonitoredPath& root : roots_) {
            std::string path = utf8::fromWide(*root.path);
            while (path.size() > 1 && path.back() == '/')
                path.pop_back();
            rootState_.push_back(Root{path, root.recursive != 0, true, -1});
        }
        for (size_t i = 0; i < rootState_.size(); ++i) {
            // The cache scans every root once monitoring runs: a watch limit here only warns.
            watchTree(rootState_[i].path, i);
        }
    }
    worker_.start([this] { run(); });
    return 0;
}

int InotifyMonitor::cleanup() {
    std::lock_guard<std::recursive_mutex> lock(controlMutex_);
    stopMonitoring();
    if (fd_ >= 0)
        close(fd_);
    if (wakeFd_ >= 0)
        close(wakeFd_);
    fd_ = wakeFd_ = -1;
    watches_.clear();
    rootState_.clear();
    return 0;
}

int InotifyMonitor::simulateLoss() {
    simulateLoss_ = true;
    wake();
    return 0;
}

void InotifyMonitor::wake() {
    if (wakeFd_ >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
    }
}

void InotifyMonitor::run() {
    EventBatch batch;
    while (!worker_.stopRequested()) {
        const int timeout = delivery_.waitMs(batch);
        // While held, the notifications pile up in the kernel.
        const bool holding = worker_.answerHold();
        pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {holding ? -1 : fd_, POLLIN, 0}};
        if (poll(fds, 2, timeout) < 0 && errno != EINTR) {
            LOG_TRACE(log_, "inotify - poll failed (%s)\n", std::strerror(errno));
            break;
        }
        if (fds[0].revents & POLLIN) {
            uint64_t count;
            [[maybe_unused]] ssize_t n = read(wakeFd_, &count, sizeof count);
        }
        if (worker_.stopRequested())
            break;

        if (simulateLoss_.exchange(false)) {
            for (size_t i = 0; i < rootState_.size(); ++i)
                resync(i, "simulated loss", batch);
        }
        if (fds[1].revents & POLLIN)
            readNotifications(batch);
        delivery_.deliverDue(batch);
    }
    if (!batch.empty())
        delivery_.deliver(batch);
}

void InotifyMonitor::readNotifications(EventBatch& batch) {
    alignas(inotify_event) char buffer[64 * 1024];
    // Bounded, so that a file written without pause (its events fold into one) cannot keep the
    // batch from being delivered.
    for (int reads = 0; reads < 64 && batch.size() < EventBatch::kMaxEvents; ++reads) {
        const ssize_t n = read(fd_, buffer, sizeof buffer);
        if (n <= 0)
            return;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            handle(*event, batch);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

void InotifyMonitor::handle(const inotify_event& event, EventBatch& batch) {
    if (event.mask & IN_Q_OVERFLOW) {
        for (size_t i = 0; i < rootState_.size(); ++i)
            resync(i, "inotify queue overflow", batch);
        return;
    }
    const WatchTable::Watch* watch = watches_.find(event.wd);
    if (watch == nullptr)
        return;  // a watch released before its last notifications were read
    if (event.mask & IN_IGNORED) {
        watches_.erase(event.wd);
        return;
    }
    const size_t root = watch->root;
    Root& state = rootState_[root];
    if (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) {
        // Other directories leave through their parent's DELETE / MOVED_FROM.
        if (event.wd == state.wd)
            rootGone(root, batch);
        return;
    }

    const std::string path =
        event.len ? childPath(watch->path, event.name, strnlen(event.name, event.len))
                  : watch->path;
    const bool isDirectory = event.mask & IN_ISDIR;
    uint32_t action = FS_ACTION_NONE;
    if (event.mask & (IN_CREATE | IN_MOVED_TO)) {
        // Watches first: together with the consumer's scan of the directory, which follows its
        // event, they leave no gap.
        if (isDirectory && state.recursive && !watchTree(path, root))
            delivery_.lost(root, "watch limit reached");
        action = event.mask & IN_CREATE ? FS_ACTION_ADDED : FS_ACTION_NEW_NAME;
    } else if (event.mask & (IN_DELETE | IN_MOVED_FROM)) {
        if (isDirectory)
            releaseSubtree(path);
        action = event.mask & IN_DELETE ? FS_ACTION_REMOVED : FS_ACTION_OLD_NAME;
    } else if ((event.mask & (IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE)) && !isDirectory) {
        // A directory's own record has nothing a change of it could refresh.
        action = FS_ACTION_MODIFIED;
    }
    if (action != FS_ACTION_NONE)
        batch.add(root, action, utf8::toWide(path));
}

bool InotifyMonitor::watchTree(const std::string& dir, size_t root) {
    const bool recursive = rootState_[root].recursive;
    std::vector<std::string> pending{dir};
    while (!pending.empty()) {
        const std::string path = std::move(pending.back());
        pending.pop_back();
        const int wd = inotify_add_watch(fd_, path.c_str(), kWatchMask);
        if (wd < 0) {
            const int err = errno;
            if (err == ENOSPC || err == ENOMEM) {
                LOG_TRACE(log_, "inotify - unable to watch '%s': watch limit reached\n",
                          path.c_str());
                return false;
            }
            // Gone, or replaced by a file or a link, since it was seen: nothing to watch.
            if (err != ENOENT && err != ENOTDIR && err != ELOOP) {
                LOG_TRACE(log_, "inotify - unable to watch '%s' (%s)\n", path.c_str(),
                          std::strerror(err));
            }
            continue;
        }
        const WatchTable::Watch* known = watches_.find(wd);
        if (known != nullptr && known->root != root)
            continue;  // the directory belongs to another (enclosing) root already
        watches_.set(wd, path, root);
        if (path == rootState_[root].path)
            rootState_[root].wd = wd;
        if (!recursive)
            continue;
        // Listed after the watch is in place: a subdirectory created meanwhile is either listed
        // here or reported.
        DIR* listing = opendir(path.c_str());
        if (listing == nullptr)
            continue;
        while (const dirent* entry = readdir(listing)) {
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
                continue;
            if (isDirectoryEntry(dirfd(listing), entry))
                pending.push_back(childPath(path, entry->d_name, std::strlen(entry->d_name)));
        }
        closedir(listing);
    }
    return true;
}

void InotifyMonitor::releaseSubtree(const std::string& dir) {
    for (int wd : watches_.takeSubtree(dir))
        inotify_rm_watch(fd_, wd);  // fails harmlessly for a directory that is gone
}

void InotifyMonitor::resync(size_t root, const char* reason, EventBatch& batch) {
    Root& state = rootState_[root];
    if (!state.active)
        return;
    struct stat st;
    if (lstat(state.path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        rootGone(root, batch);
        return;
    }
    // Watch again whatever is there now (a directory still watched keeps its descriptor), then
    // drop the watches whose directories were not found again.
    std::vector<int> old = watches_.takeRoot(root);
    watchTree(state.path, root);
    for (int wd : old) {
        if (watches_.find(wd) == nullptr)
            inotify_rm_watch(fd_, wd);
    }
    delivery_.lost(root, reason);
}

void InotifyMonitor::rootGone(size_t root, EventBatch& batch) {
    Root& state = rootState_[root];
    if (!state.active)
        return;
    state.active = false;
    for (int wd : watches_.takeRoot(root))
        inotify_rm_watch(fd_, wd);
    delivery_.rootGone(root);
    LOG_TRACE(log_, "inotify - monitored root '%s' is gone\n", state.path.c_str());
    batch.add(root, FS_ACTION_REMOVED, ProviderBase::rootEventPath(utf8::toWide(state.path)));
}

VIGIL_PROVIDER_FACTORY(InotifyMonitor)
