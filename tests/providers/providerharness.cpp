#include "providerharness.h"

#include <gtest/gtest.h>

#include "fs/fs_loader.h"
#include "testsupport.h"
#include "text/utf8.h"

ProviderHarness::ProviderHarness(const char* name)
    : monitor_(loadFsProvider(name, &config_)),
      queue_(std::make_unique<EventQueue>(L"vigilQueue")) {
    if (!monitor_)
        ADD_FAILURE() << "provider " << name << " not loaded";
}

ProviderHarness::~ProviderHarness() {
    if (monitor_) {
        monitor_->stopMonitoring();
        monitor_->cleanup();
        monitor_->setEventQueue(nullptr);
    }
}

int ProviderHarness::addRoot(const std::wstring& path, bool recursive) {
    MonitoredPath root(path, recursive ? 1 : 0);
    return monitor_->addPath(&root);
}

void ProviderHarness::start() {
    ASSERT_EQ(monitor_->setEventQueue(queue_.get()), 0);
    ASSERT_EQ(monitor_->startMonitoring(), 0);
}

void ProviderHarness::dropQueue() {
    monitor_->setEventQueue(nullptr);
    queue_.reset();
}

void ProviderHarness::drain() {
    for (FsEvent e = queue_->get(0); e.isValid(); e = queue_->get(0))
        seen.push_back(SeenEvent{e.action, e.path.value_or(L"")});
}

bool ProviderHarness::waitFor(const std::function<bool()>& predicate, unsigned timeoutMs) {
    return testsupport::pollUntil(
        [&] {
            drain();
            return predicate();
        },
        timeoutMs);
}

size_t ProviderHarness::find(uint32_t action, const std::wstring& path, size_t from) const {
    for (size_t i = from; i < seen.size(); ++i) {
        if (seen[i].action == action && seen[i].path == path)
            return i;
    }
    return std::string::npos;
}

bool ProviderHarness::waitForEvent(uint32_t action, const std::wstring& path, size_t from) {
    return waitFor([&] { return find(action, path, from) != std::string::npos; });
}

std::string ProviderHarness::describe() const {
    static const char* const kNames[] = {"NONE",    "MODIFIED", "ADDED",
                                         "REMOVED", "OLD_NAME", "NEW_NAME"};
    std::string text;
    for (const SeenEvent& e : seen) {
        const uint32_t index = e.action - FS_ACTION_NONE;
        text += index < 6 ? kNames[index] : "?";
        text += ' ' + utf8::fromWide(e.path) + '\n';
    }
    return text;
}
