// Runs a function on a thread whose stack is limited, so that tests can show an operation stays
// within a stack budget (a thread of the monitor, not the roomy main thread of a test).
#pragma once

#include <cstddef>
#include <functional>

namespace testsupport {

// Runs work on a new thread with a stack of stackBytes and waits for it; false when the thread
// could not be started.
bool runWithStack(size_t stackBytes, const std::function<void()>& work);

}  // namespace testsupport
