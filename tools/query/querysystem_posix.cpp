#include <signal.h>

#include <cerrno>
#include <climits>

#include "querysystem.h"

namespace querysystem {

std::vector<std::string> arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

void prepareOutput() {}

bool processRunning(uint32_t pid) {
    if (pid == 0 || pid > static_cast<uint32_t>(INT_MAX))
        return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

}  // namespace querysystem
