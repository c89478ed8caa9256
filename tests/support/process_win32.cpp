#include <windows.h>

#include "testsupport.h"

namespace testsupport {

namespace {

// Quotes one argument as CommandLineToArgvW and the C runtime read it back.
std::wstring quote(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos)
        return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            out.append(backslashes * 2 + 1, L'\\');
        } else {
            out.append(backslashes, L'\\');
        }
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    out += L'"';
    return out;
}

}  // namespace

struct Child::Impl {
    PROCESS_INFORMATION pi{};
};

Child::Child(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Child::~Child() {
    if (WaitForSingleObject(impl_->pi.hProcess, 0) != WAIT_OBJECT_0)
        kill();
    CloseHandle(impl_->pi.hThread);
    CloseHandle(impl_->pi.hProcess);
}

std::unique_ptr<Child> Child::start(const std::wstring& program,
                                    const std::vector<std::wstring>& args,
                                    const std::filesystem::path& stderrFile,
                                    const std::filesystem::path& stdoutFile) {
    std::wstring cmd = quote(program);
    for (const auto& a : args)
        cmd += L" " + quote(a);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    // Inheritable handles on the files the child writes to (standard error appended).
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    auto openFor = [&inherit](const std::filesystem::path& path, bool append) {
        return CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           append ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    HANDLE errorFile = stderrFile.empty() ? INVALID_HANDLE_VALUE : openFor(stderrFile, true);
    HANDLE outputFile = stdoutFile.empty() ? INVALID_HANDLE_VALUE : openFor(stdoutFile, false);
    auto closeFiles = [&] {
        for (HANDLE h : {errorFile, outputFile}) {
            if (h != INVALID_HANDLE_VALUE)
                CloseHandle(h);
        }
    };
    if ((!stderrFile.empty() && errorFile == INVALID_HANDLE_VALUE) ||
        (!stdoutFile.empty() && outputFile == INVALID_HANDLE_VALUE)) {
        closeFiles();
        return nullptr;
    }
    const bool redirected = !stderrFile.empty() || !stdoutFile.empty();
    if (redirected) {
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        si.hStdOutput =
            outputFile != INVALID_HANDLE_VALUE ? outputFile : GetStdHandle(STD_OUTPUT_HANDLE);
        si.hStdError =
            errorFile != INVALID_HANDLE_VALUE ? errorFile : GetStdHandle(STD_ERROR_HANDLE);
    }
    auto impl = std::make_unique<Impl>();
    const bool started = CreateProcessW(program.c_str(), cmd.data(), nullptr, nullptr, redirected,
                                        0, nullptr, nullptr, &si, &impl->pi);
    closeFiles();
    if (!started)
        return nullptr;
    return std::unique_ptr<Child>(new Child(std::move(impl)));
}

int Child::wait(unsigned timeoutMs) {
    if (WaitForSingleObject(impl_->pi.hProcess, timeoutMs) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(impl_->pi.hProcess, &code);
    return static_cast<int>(code);
}

void Child::kill() {
    TerminateProcess(impl_->pi.hProcess, 137);
    WaitForSingleObject(impl_->pi.hProcess, INFINITE);
}

bool Child::terminateGently() {
    return false;
}

uint32_t Child::pid() const {
    return impl_->pi.dwProcessId;
}

bool Child::endedBySignal() const {
    return false;
}

bool runningUnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::wstring programPath(const wchar_t* baseName) {
    wchar_t buf[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(nullptr, buf, static_cast<DWORD>(std::size(buf)));
    std::wstring self(buf, n);
    return self.substr(0, self.find_last_of(L"\\/") + 1) + baseName + L".exe";
}

void setEnv(const wchar_t* name, const wchar_t* value) {
    SetEnvironmentVariableW(name, value);
}

}  // namespace testsupport
