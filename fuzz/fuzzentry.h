// The entry functions of the fuzz targets. Each file in fuzz/targets/ defines one entry with
// VIGIL_FUZZ_ENTRY(name), where name is the file's stem and the name of its corpus folder
// fuzz/corpus/<name>/. The libFuzzer program fuzz_<name> and the corpus replay test call the
// same function: an entry returns normally for every input and ends the process through
// FUZZ_CHECK when an invariant breaks. Entries are deterministic: the same bytes take the same
// path whatever ran before them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace fuzz {

using EntryFunction = void (*)(const uint8_t* data, size_t size);

struct Entry {
    const char* name;
    EntryFunction run;
};

// Adds an entry; VIGIL_FUZZ_ENTRY calls it while the program starts. Returns true.
bool registerEntry(const char* name, EntryFunction run);
// Every entry of the program, in the order of registration.
const std::vector<Entry>& entries();
// The entry called name, or null.
const Entry* findEntry(std::string_view name);

// Puts the process into the state the entries expect (a fixed locale); called once before the
// first entry runs.
void prepareProcess();

// Reports a broken invariant and aborts.
[[noreturn]] void checkFailed(const char* file, int line, const char* condition);

}  // namespace fuzz

#define FUZZ_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : ::fuzz::checkFailed(__FILE__, __LINE__, #condition))

#define VIGIL_FUZZ_ENTRY(name)                                           \
    static void vigilFuzzEntry_##name(const uint8_t* data, size_t size); \
    [[maybe_unused]] static const bool vigilFuzzRegistered_##name =      \
        ::fuzz::registerEntry(#name, vigilFuzzEntry_##name);             \
    static void vigilFuzzEntry_##name(const uint8_t* data, size_t size)
