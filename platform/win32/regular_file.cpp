// Regular files on Windows: opened for shared reading, sized, read in one call; appended to
// through a stream whose handle is not inherited.
#include "platform/regular_file.h"

#include "platform/wide_text.h"
#include "platform/win32/windows_api.h"

#include <algorithm>

namespace pandel::platform {

std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t maxBytes) {
    const std::u16string widePath = Utf8ToUtf16(path);
    if (widePath.empty() || widePath.find(u'\0') != std::u16string::npos)
        return std::nullopt;
    // Without backup semantics a directory does not open; a device or pipe is not a disk file.
    HANDLE file = CreateFileW(win32::Wide(widePath), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    LARGE_INTEGER size{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size) || size.QuadPart < 0) {
        CloseHandle(file);
        return std::nullopt;
    }
    std::string content(
        static_cast<std::size_t>(std::min<unsigned long long>(size.QuadPart, maxBytes)), '\0');
    std::size_t filled = 0;
    bool failed = false;
    while (filled < content.size()) {
        const DWORD want =
            static_cast<DWORD>(std::min<std::size_t>(content.size() - filled, 0x7FFFFFFF));
        DWORD got = 0;
        if (!ReadFile(file, &content[filled], want, &got, nullptr)) {
            failed = true;
            break;
        }
        if (got == 0)
            break;
        filled += got;
    }
    CloseHandle(file);
    if (failed)
        return std::nullopt;
    content.resize(filled);
    return content;
}

std::FILE* OpenForAppending(const std::string& path) {
    const std::u16string widePath = Utf8ToUtf16(path);
    if (widePath.empty() || widePath.find(u'\0') != std::u16string::npos)
        return nullptr;
    return _wfopen(win32::Wide(widePath), L"a+bN"); // 'N': not inherited
}

} // namespace pandel::platform
