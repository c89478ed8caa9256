#include "common/providerbase.h"

#include "system/platform.h"

namespace {

constexpr char kLogModule[] = "providers/common";

}  // namespace

ProviderBase::ProviderBase(const char* name, FsConfig* config)
    : log_(getHostLog()), config_(config), delivery_(log_, name), name_(name) {}

int ProviderBase::stopMonitoring() {
    std::lock_guard<std::recursive_mutex> lock(controlMutex_);
    worker_.stop([this] { wake(); });
    return 0;
}

int ProviderBase::holdEvents(bool hold) {
    std::lock_guard<std::recursive_mutex> lock(controlMutex_);
    return worker_.requestHold(hold, [this] { wake(); });
}

int ProviderBase::setEventQueue(EventQueue* queue) {
    if (queue == nullptr)
        stopMonitoring();
    delivery_.setQueue(queue);
    return 0;
}

int ProviderBase::addPath(const MonitoredPath* path) {
    std::lock_guard<std::recursive_mutex> lock(controlMutex_);
    if (path == nullptr || path->text() == nullptr || path->path->empty())
        return -1;
    if (worker_.running()) {
        LOG_TRACE(log_, "%s - '%ls' cannot be added while monitoring runs\n", name_, path->text());
        return -1;
    }
    if (!acceptRoot(*path))
        return -1;
    roots_.push_back(*path);
    std::vector<std::wstring> eventPaths;
    for (const MonitoredPath& root : roots_)
        eventPaths.push_back(rootEventPath(*root.path));
    delivery_.setRoots(std::move(eventPaths));
    return 0;
}

int ProviderBase::getMonitoredPaths(MonitoredPathList* paths) {
    std::lock_guard<std::recursive_mutex> lock(controlMutex_);
    if (paths == nullptr)
        return -1;
    paths->insert(paths->end(), roots_.begin(), roots_.end());
    return 0;
}

int ProviderBase::shutdown(const FsConfig*) {
    stopMonitoring();
    cleanup();
    return 0;
}

std::wstring ProviderBase::rootEventPath(const std::wstring& root) {
    std::wstring path = root;
    while (path.size() > 1 && path.back() == platform::kPathSeparator) {
        // "C:\" keeps its separator, as "/" does.
        if (path.size() == 3 && path[1] == L':')
            break;
        path.pop_back();
    }
    return path;
}
