// Path helpers: absolute paths and the split of a path into its ancestors.
#pragma once

#include <optional>
#include <string>

#include "log/rklog.h"
#include "text/monitoredpath.h"

class PathHelper {
  public:
    PathHelper() : log_(getRkLogFs()) {}

    // The absolute form of path (Windows: the runtime's full-path function; Linux: joined with
    // the current directory and "." / ".." folded, links not resolved). Nothing when path is
    // null, not shorter than platform::kMaxPath, or cannot be resolved within that limit.
    static std::optional<std::wstring> realPath(const wchar_t* path);

    // path with a separator at its end (added when it has none, also to an empty path).
    static std::wstring withTrailingSeparator(std::wstring path);
    // directory, a separator unless it ends with one, and name; just name for no directory.
    static std::wstring joinPath(const std::wstring& directory, std::wstring_view name);

    // Appends path and each of its ancestors up to the root to ancestors, and the last
    // component of each to names; the root goes to both. C:\A\B gives C:\A\B, C:\A, C:\ and
    // B, A, C:\. Every entry carries the recursive flag of path.
    static void splitPath(const MonitoredPath& path, MonitoredPathList& ancestors,
                          MonitoredPathList& names);

    // Appends the entries of source to target in order, then removes from target every entry
    // that another one covers: of equal entries the first stays (a recursive one wins over one
    // that is not), and an entry below a recursive one goes, whichever came first. Entries are
    // compared as they stand (callers give them a trailing separator and one letter case).
    static void normalisePathList(const MonitoredPathList& source, MonitoredPathList& target);

  private:
    RkLogWrapper* log_;
};
