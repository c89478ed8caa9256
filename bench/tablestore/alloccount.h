// Counts the heap allocations of the whole program (operator new is replaced in alloccount.cpp),
// so that a benchmark can report how many allocations its loop makes.
#pragma once

#include <cstdint>

uint64_t allocationCount();
