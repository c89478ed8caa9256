// The configuration as the system and its provider libraries read it: settings that are not on
// the command line, found by section and key.
#pragma once

#include <string>

class FsConfig {
  public:
    virtual ~FsConfig() = default;
    // The configuration store's last error code (0: none).
    virtual int getError() const = 0;
    // The configured number, or defaultValue (see parseConfigInt for the accepted forms).
    virtual int getInt(const char* section, const char* key, int defaultValue) const = 0;
    // The configured text, or defaultValue (the empty text when it is null). An empty value
    // cannot be told from a missing one.
    virtual std::string getString(const char* section, const char* key,
                                  const char* defaultValue) const = 0;
};
