// Test helper: builds a cache the way a monitor does, in a process of its own, and leaves it on
// disk (closed, not deleted), so that tests query it from another process and another locale.
//   vigil-test-buildcache WORKDIR DIRS FILES ROOT
// Exit code 0 when the build scanned ROOT completely.
#include <clocale>

#include "cache/fscache.h"
#include "text/strutil.h"

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    getRkLogFs()->setDefaultFile(L"off");
    if (argc != 5)
        return 2;
    CacheSettings settings;
    settings.collectFlags = 31;
    FS_Cache cache(toWide(argv[2]).c_str(), toWide(argv[3]).c_str(), toWide(argv[1]).c_str(), true,
                   false, false, &settings);
    if (cache.create(3600000, FS_CACHE_CREATE) != SUCCESS)
        return 1;
    const int result = cache.build(MonitoredPath(toWide(argv[4]), 1));
    cache.writeDirectoriesIndex();
    cache.closeCache();
    return result == SCAN_OK ? 0 : 1;
}
