// The platform half of the single-entry look-up; lookupEntry brings the path into shape first.
#pragma once

#include <cstdint>
#include <string_view>

#include "listing/listing.h"

namespace listing::os {

// path has no trailing separator unless it is a root.
uint32_t lookup(std::wstring_view path, ListingEntry& entry);

}  // namespace listing::os
