// The inotify watches of a monitor: watch descriptor to directory path (bytes, no trailing "/"
// except for "/") and the index of the monitored root it belongs to, and back.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

class WatchTable {
  public:
    struct Watch {
        std::string path;
        size_t root;
    };

    const Watch* find(int wd) const;
    // Maps wd to path; a watch that held path before (a directory replaced by another of the
    // same name) loses it.
    void set(int wd, std::string path, size_t root);
    void erase(int wd);
    // Removes the watches of path and of every directory below it; returns their descriptors.
    std::vector<int> takeSubtree(const std::string& path);
    // Removes every watch of root; returns their descriptors.
    std::vector<int> takeRoot(size_t root);
    void clear();
    size_t size() const { return byWd_.size(); }

  private:
    std::unordered_map<int, Watch> byWd_;
    std::map<std::string, int> byPath_;
};
