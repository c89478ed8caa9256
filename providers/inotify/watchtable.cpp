#include "inotify/watchtable.h"

const WatchTable::Watch* WatchTable::find(int wd) const {
    auto it = byWd_.find(wd);
    return it == byWd_.end() ? nullptr : &it->second;
}

void WatchTable::set(int wd, std::string path, size_t root) {
    if (auto it = byWd_.find(wd); it != byWd_.end()) {
        auto old = byPath_.find(it->second.path);
        if (old != byPath_.end() && old->second == wd)
            byPath_.erase(old);
    }
    if (auto it = byPath_.find(path); it != byPath_.end() && it->second != wd)
        byWd_.erase(it->second);
    byPath_[path] = wd;
    byWd_[wd] = Watch{std::move(path), root};
}

void WatchTable::erase(int wd) {
    auto it = byWd_.find(wd);
    if (it == byWd_.end())
        return;
    auto p = byPath_.find(it->second.path);
    if (p != byPath_.end() && p->second == wd)
        byPath_.erase(p);
    byWd_.erase(it);
}

std::vector<int> WatchTable::takeSubtree(const std::string& path) {
    std::vector<int> taken;
    if (auto it = byPath_.find(path); it != byPath_.end())
        taken.push_back(it->second);
    const std::string prefix = path == "/" ? path : path + "/";
    for (auto it = byPath_.lower_bound(prefix);
         it != byPath_.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it)
        taken.push_back(it->second);
    for (int wd : taken)
        erase(wd);
    return taken;
}

std::vector<int> WatchTable::takeRoot(size_t root) {
    std::vector<int> taken;
    for (const auto& [wd, watch] : byWd_) {
        if (watch.root == root)
            taken.push_back(wd);
    }
    for (int wd : taken)
        erase(wd);
    return taken;
}

void WatchTable::clear() {
    byWd_.clear();
    byPath_.clear();
}
