// The process's configuration object: FsConfig over the project's INI store (OrbCfg). main
// creates one for every command; the provider factory gets it, and the cache gets its settings.
#pragma once

#include <cstddef>
#include <string>

#include "fsconfig.h"

struct CacheSettings;

class ProcessConfig final : public FsConfig {
  public:
    int getError() const override;
    int getInt(const char* section, const char* key, int defaultValue) const override;
    std::string getString(const char* section, const char* key,
                          const char* defaultValue) const override;

    // The cache's settings record, set by main after construction; not owned.
    CacheSettings* settings = nullptr;
};

// The number in text[0..size): any run of "+" and "-" (each "-" flips the sign), decimal digits
// (accumulated as an unsigned 32-bit number, wrapping), then at most one "K"/"k" (x 1024) or
// "M"/"m" (x 1048576); the product as a 32-bit int. Anything else, or no digit, gives
// defaultValue.
int parseConfigInt(const char* text, size_t size, int defaultValue);
