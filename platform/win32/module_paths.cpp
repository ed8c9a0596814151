// Module file names on Windows: GetModuleHandleW and GetModuleFileNameW.
#include "platform/module_paths.h"

#include "platform/wide_text.h"
#include "platform/win32/windows_api.h"

#include <vector>

namespace pandel::platform::native {
namespace {

constexpr DWORD kFirstPathBufferSize = 1024;
// The longest path the system's wide-character calls accept.
constexpr DWORD kLongestPath = 32768;

// The full path of module (the executable for null), as UTF-8; empty on failure. A path that
// does not fit the buffer is read again into a larger one rather than taken cut short.
std::string ModuleFileName(HMODULE module) {
    for (DWORD size = kFirstPathBufferSize; size <= kLongestPath; size *= 2) {
        std::vector<wchar_t> buffer(size, L'\0');
        const DWORD length = GetModuleFileNameW(module, buffer.data(), size);
        if (length == 0)
            return {};
        if (length < size)
            return Utf16ToUtf8(win32::FromWide(buffer.data(), length));
    }
    return {};
}

} // namespace

std::string LoadedLibraryPath(const std::string& fileName) {
    if (fileName.empty())
        return {};
    HMODULE module = GetModuleHandleW(win32::Wide(Utf8ToUtf16(fileName)));
    if (module == nullptr)
        return {};
    return ModuleFileName(module);
}

std::string HostExecutablePath() {
    return ModuleFileName(nullptr);
}

} // namespace pandel::platform::native
