// Shared libraries on Windows: LoadLibraryW, GetProcAddress and FreeLibrary.
#include "platform/shared_library.h"

#include "platform/wide_text.h"
#include "platform/win32/windows_api.h"

#include <utility>

namespace pandel::platform {
namespace {

// Windows keeps only a code; the text of the last failure on this thread is kept here, as the
// loader keeps its own elsewhere.
thread_local std::string t_lastError;

void RememberError(const std::string& what, DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message;
    if (length != 0 && text != nullptr) {
        message = Utf16ToUtf8(win32::FromWide(text, length));
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
            message.pop_back();
    }
    if (text != nullptr)
        LocalFree(text);
    t_lastError = what + ": error " + std::to_string(code) + (message.empty() ? "" : " ") + message;
}

} // namespace

std::string SharedLibraryFileName(const std::string& name) {
    return name + ".dll";
}

SharedLibrary::~SharedLibrary() {
    if (handle_ != nullptr)
        FreeLibrary(static_cast<HMODULE>(handle_));
}

SharedLibrary::SharedLibrary(SharedLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept {
    if (this != &other) {
        if (handle_ != nullptr)
            FreeLibrary(static_cast<HMODULE>(handle_));
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

SharedLibrary SharedLibrary::Open(const std::string& nameOrPath) {
    // A missing library is a result for the caller, not a dialog box for the person at the
    // terminal.
    DWORD previousMode = 0;
    const BOOL modeSet = SetThreadErrorMode(SEM_FAILCRITICALERRORS, &previousMode);
    HMODULE module = LoadLibraryW(win32::Wide(Utf8ToUtf16(nameOrPath)));
    const DWORD error = GetLastError();
    if (modeSet)
        SetThreadErrorMode(previousMode, nullptr);
    if (module == nullptr)
        RememberError(nameOrPath, error);
    return SharedLibrary(module);
}

void* SharedLibrary::Symbol(const std::string& name) const {
    if (handle_ == nullptr)
        return nullptr;
    FARPROC address = GetProcAddress(static_cast<HMODULE>(handle_), name.c_str());
    if (address == nullptr) {
        RememberError(name, GetLastError());
        return nullptr;
    }
    return reinterpret_cast<void*>(address);
}

std::string SharedLibrary::Error() {
    return std::exchange(t_lastError, std::string());
}

} // namespace pandel::platform
