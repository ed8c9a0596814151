// Child processes of the Windows test program, and telling Wine from Windows.
#include "tests/win32/child_process.h"

#include <windows.h>

#include <cstdlib>
#include <vector>

namespace pandel::test {

std::uint32_t RunChildTest(const std::string& testName, const std::string& syncName,
                           std::uint32_t timeoutMs) {
    wchar_t exe[MAX_PATH * 4] = {};
    if (GetModuleFileNameW(nullptr, exe, MAX_PATH * 4) == 0)
        return kChildDidNotEnd;
    std::wstring command = L"\"" + std::wstring(exe) + L"\" --gtest_also_run_disabled_tests " +
                           L"--gtest_filter=" + std::wstring(testName.begin(), testName.end());
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    SetEnvironmentVariableA("PANDEL_CHILD_SYNC", syncName.c_str());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(exe, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                        nullptr, &startup, &process);
    SetEnvironmentVariableA("PANDEL_CHILD_SYNC", nullptr);
    if (!started)
        return kChildDidNotEnd;
    DWORD code = kChildDidNotEnd;
    if (WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, kChildDidNotEnd);
        WaitForSingleObject(process.hProcess, 5000);
    } else if (!GetExitCodeProcess(process.hProcess, &code)) {
        code = kChildDidNotEnd;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

std::string ChildSyncName() {
    const char* name = std::getenv("PANDEL_CHILD_SYNC");
    return name != nullptr ? name : "";
}

bool RunsUnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

} // namespace pandel::test
