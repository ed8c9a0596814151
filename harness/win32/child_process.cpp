// Child processes for tests on Windows: CreateProcess with its output on pipes drained while it
// runs, a kill at the deadline; this test program run again for one test; telling Wine from
// Windows.
#include "harness/child_process.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

namespace pandel::test {
namespace {

constexpr DWORD kStepMs = 10;
constexpr DWORD kEndWaitMs = 5000; // for a terminated child to be gone
constexpr char kSyncVariable[] = "PANDEL_CHILD_SYNC";

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty())
        return std::wstring();
    const int size = static_cast<int>(utf8.size());
    std::wstring wide(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), static_cast<int>(wide.size()));
    return wide;
}

std::string Utf8(const std::wstring& wide) {
    if (wide.empty())
        return std::string();
    const int size = static_cast<int>(wide.size());
    std::string utf8(
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), static_cast<int>(utf8.size()),
                        nullptr, nullptr);
    return utf8;
}

// One argument as the C runtime splits a command line again: quoted, backslashes before a quote
// doubled.
std::wstring Quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos)
        return argument;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

// The variables set to env's values while it lives, as the child is to inherit them; the
// previous values come back afterwards.
class ScopedVariables {
public:
    explicit ScopedVariables(const std::map<std::string, std::string>& env) {
        for (const auto& [name, value] : env) {
            const std::wstring wideName = Wide(name);
            saved_.emplace_back(wideName, Get(wideName));
            SetEnvironmentVariableW(wideName.c_str(), Wide(value).c_str());
        }
    }
    ~ScopedVariables() {
        for (const auto& [name, value] : saved_)
            SetEnvironmentVariableW(name.c_str(), value ? value->c_str() : nullptr);
    }
    ScopedVariables(const ScopedVariables&) = delete;
    ScopedVariables& operator=(const ScopedVariables&) = delete;

private:
    static std::optional<std::wstring> Get(const std::wstring& name) {
        const DWORD size = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
        if (size == 0)
            return std::nullopt;
        std::wstring value(size, L'\0');
        value.resize(GetEnvironmentVariableW(name.c_str(), value.data(), size));
        return value;
    }

    std::vector<std::pair<std::wstring, std::optional<std::wstring>>> saved_;
};

// Appends what the pipe holds now, without waiting for more.
void DrainAvailable(HANDLE pipe, std::string* text) {
    char chunk[65536];
    DWORD available = 0;
    while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
        DWORD got = 0;
        const DWORD want = available < sizeof chunk ? available : sizeof chunk;
        if (!ReadFile(pipe, chunk, want, &got, nullptr) || got == 0)
            return;
        text->append(chunk, got);
    }
}

} // namespace

ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::map<std::string, std::string>& env, int timeoutMs) {
    ProcessResult result;
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
    if (!CreatePipe(&outRead, &outWrite, &inherited, 0))
        return result;
    if (!CreatePipe(&errRead, &errWrite, &inherited, 0)) {
        CloseHandle(outRead);
        CloseHandle(outWrite);
        return result;
    }
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    HANDLE null = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                              OPEN_EXISTING, 0, nullptr);

    std::wstring command;
    for (const std::string& argument : argv)
        command += (command.empty() ? L"" : L" ") + Quoted(Wide(argument));
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = null;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    PROCESS_INFORMATION process{};
    BOOL started = FALSE;
    {
        ScopedVariables variables(env);
        started = CreateProcessW(Wide(argv.at(0)).c_str(), line.data(), nullptr, nullptr, TRUE, 0,
                                 nullptr, nullptr, &startup, &process);
    }
    // Only the child holds the writing ends now: the pipes end with it.
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    if (null != INVALID_HANDLE_VALUE)
        CloseHandle(null);
    if (started) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const bool ended = WaitForSingleObject(process.hProcess, kStepMs) == WAIT_OBJECT_0;
            DrainAvailable(outRead, &result.out);
            DrainAvailable(errRead, &result.err);
            if (ended)
                break;
            if (std::chrono::steady_clock::now() >= deadline) {
                result.timedOut = true;
                TerminateProcess(process.hProcess, kChildDidNotEnd);
                WaitForSingleObject(process.hProcess, kEndWaitMs);
                break;
            }
        }
        DWORD code = kChildDidNotEnd;
        if (!result.timedOut && GetExitCodeProcess(process.hProcess, &code))
            result.exitCode = static_cast<int>(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(outRead);
    CloseHandle(errRead);
    return result;
}

std::uint32_t RunChildTest(const std::string& testName, const std::string& syncName,
                           std::uint32_t timeoutMs) {
    wchar_t exe[MAX_PATH * 4] = {};
    if (GetModuleFileNameW(nullptr, exe, MAX_PATH * 4) == 0)
        return kChildDidNotEnd;
    const ProcessResult run =
        RunProcess({Utf8(exe), "--gtest_also_run_disabled_tests", "--gtest_filter=" + testName},
                   {{kSyncVariable, syncName}}, static_cast<int>(timeoutMs));
    // The child's report stays in this program's output, as if it had run here.
    std::fwrite(run.out.data(), 1, run.out.size(), stdout);
    std::fwrite(run.err.data(), 1, run.err.size(), stderr);
    std::fflush(nullptr);
    return run.timedOut ? kChildDidNotEnd : static_cast<std::uint32_t>(run.exitCode);
}

std::string ChildSyncName() {
    const char* name = std::getenv(kSyncVariable);
    return name != nullptr ? name : "";
}

bool RunsUnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

} // namespace pandel::test
