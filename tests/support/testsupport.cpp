#include "testsupport.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <system_error>
#include <thread>

#include "system/sysinfo.h"

namespace fs = std::filesystem;

namespace testsupport {

TempDir::TempDir() {
    path_ = fs::temp_directory_path() / uniqueName(L"vigil-test-");
    fs::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::vector<uint8_t> readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

bool pollUntil(const std::function<bool()>& predicate, unsigned timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (predicate())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::wstring uniqueName(const wchar_t* prefix) {
    static std::atomic<unsigned> counter{0};
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    return std::wstring(prefix) + std::to_wstring(sysinfo::currentProcessId()) + L"-" +
           std::to_wstring(now % 1000000007) + L"-" + std::to_wstring(counter++);
}

int run(const std::wstring& program, const std::vector<std::wstring>& args, unsigned timeoutMs) {
    auto child = Child::start(program, args);
    if (!child)
        return -2;
    int code = child->wait(timeoutMs);
    if (code == -1)
        child->kill();
    return code;
}

}  // namespace testsupport

#include "log/rklog.h"

namespace testsupport {

LogCapture::LogCapture(const wchar_t* level) {
    setEnv(L"VIGIL_LOG", (dir_.path() / "log.txt").wstring().c_str());
    setLevel(level);
}

void LogCapture::setLevel(const wchar_t* level) {
    setEnv(L"VIGIL_LOG_LEVEL", level);
    getRkLogFs()->reconfigure();
}

LogCapture::~LogCapture() {
    // Close the file before its directory goes.
    setEnv(L"VIGIL_LOG", L"off");
    setEnv(L"VIGIL_LOG_LEVEL", nullptr);
    getRkLogFs()->reconfigure();
    setEnv(L"VIGIL_LOG", nullptr);
}

std::string LogCapture::text() const {
    return readText(dir_.path() / "log.txt");
}

}  // namespace testsupport

namespace {

// Test binaries keep quiet unless VIGIL_LOG asks for their log; tests that read the log use
// LogCapture.
const bool g_quietLog = [] {
    if (!sysinfo::getEnv(L"VIGIL_LOG"))
        testsupport::setEnv(L"VIGIL_LOG", L"off");
    return true;
}();

}  // namespace
