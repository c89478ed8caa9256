// The libFuzzer side of a fuzz program: fuzz_<name> is this file and the entry file of its
// target, so the program holds exactly one entry.
#include <cstdlib>

#include "fuzzentry.h"
#include "log/rklog.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Messages are formatted as in a real run and written nowhere, unless VIGIL_LOG asks.
    setenv("VIGIL_LOG", "off", 0);
    getRkLogFs()->reconfigure();
    fuzz::prepareProcess();
    FUZZ_CHECK(fuzz::entries().size() == 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::entries().front().run(data, size);
    return 0;
}
