#include "system/wow64os.h"

// There is no WOW64 layer: the lookup finds no entry points.
namespace wow64os {

EntryPoints resolve() {
    EntryPoints found;
    found.moduleFound = true;
    return found;
}

bool queryIsWow64(bool*) {
    return false;
}

bool disableRedirection(void**) {
    return false;
}

}  // namespace wow64os
