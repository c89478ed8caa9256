// The settings record the monitor process hands to the cache. The cache keeps a copy of all four
// fields and interprets only collectFlags.
#pragma once

#include <cstdint>

struct CacheSettings {
    uint32_t settingsWord0 = 0;
    uint32_t collectFlags = 0;
    uint32_t settingsWord2 = 0;
    uint8_t settingsByte3 = 0;
};

// Any of these bits in collectFlags makes the scan take content digests.
inline constexpr uint32_t kCollectDigestFlags = 0x20 | 0x40 | 0x80;
