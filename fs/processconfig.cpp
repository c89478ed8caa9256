#include "processconfig.h"

#include <cstdint>

#include "orbcfg.h"

int ProcessConfig::getError() const {
    return OrbCfg::getError();
}

std::string ProcessConfig::getString(const char* section, const char* key,
                                     const char* defaultValue) const {
    std::string result = defaultValue ? defaultValue : "";
    String fullKey = section ? section : "";
    fullKey += '.';
    fullKey += key ? key : "";
    String value = OrbCfg::getKey(fullKey);
    if (value.length() > 0)
        result = value.c_str();
    return result;
}

int ProcessConfig::getInt(const char* section, const char* key, int defaultValue) const {
    const std::string text = getString(section, key, nullptr);
    return parseConfigInt(text.data(), text.size(), defaultValue);
}

int parseConfigInt(const char* text, size_t size, int defaultValue) {
    if (text == nullptr || size == 0)
        return defaultValue;
    size_t i = 0;
    bool negative = false;
    for (; i < size && (text[i] == '+' || text[i] == '-'); ++i) {
        if (text[i] == '-')
            negative = !negative;
    }
    if (i == size || text[i] < '0' || text[i] > '9')
        return defaultValue;
    uint32_t value = 0;
    for (; i < size && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value * 10u + static_cast<uint32_t>(text[i] - '0');
    uint32_t multiplier = 1;
    if (i < size) {
        if (size - i != 1)
            return defaultValue;
        switch (text[i]) {
            case 'K':
            case 'k':
                multiplier = 1024;
                break;
            case 'M':
            case 'm':
                multiplier = 0x100000;
                break;
            default:
                return defaultValue;
        }
    }
    // Unsigned arithmetic wraps exactly as the 32-bit result is meant to.
    const uint32_t signedValue = negative ? 0u - value : value;
    return static_cast<int>(multiplier * signedValue);
}
