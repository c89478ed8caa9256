// The base class of the monitor objects of provider libraries. Every member is inline, so a
// provider library derives from it without linking against the executable (a Windows DLL that
// imported from vigil.exe could not be loaded into any other program, such as a test).
#pragma once

#include <cstdint>

class FsConfig;

class FsProvider {
  public:
    FsProvider() = default;
    // Copies nothing but the class identity.
    FsProvider(const FsProvider&) {}
    FsProvider& operator=(const FsProvider&) { return *this; }
    virtual ~FsProvider() = default;

    // Short name of the provider ("inotify", "rdcw", "replay").
    virtual const char* providerName() const = 0;
    // How many times the provider lost notifications and had a monitored root rescanned.
    virtual int lossCount() const = 0;
    // Reads the provider's settings again.
    virtual int reset(const FsConfig* config) {
        (void)config;
        return 0;
    }
    // Stops monitoring and releases what the provider holds.
    virtual int shutdown(const FsConfig* config) {
        (void)config;
        return 0;
    }
    // Diagnostic controls for tests. holdEvents(true) stops taking notifications from the
    // platform (they pile up there) until holdEvents(false); it returns once the provider holds.
    virtual int holdEvents(bool hold) = 0;
    // Behaves as if the platform had lost notifications: every monitored root is rescanned.
    // -1 when the provider has nothing to lose.
    virtual int simulateLoss() = 0;
};
