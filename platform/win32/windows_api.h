// The Windows side's one door to the system headers, and the bridge between the module's UTF-16
// text and the API's wchar_t (the same code units on Windows).
#pragma once

#include <cstddef>
#include <string>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// Windows Sockets 2 must come before windows.h, which would bring in the old header otherwise.
#include <winsock2.h>

#include <windows.h>

namespace pandel::platform::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t holds UTF-16 units on Windows");

inline const wchar_t* Wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

inline std::u16string FromWide(const wchar_t* text, std::size_t length) {
    return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

inline std::u16string FromWide(const wchar_t* text) {
    return text != nullptr ? FromWide(text, std::char_traits<wchar_t>::length(text))
                           : std::u16string();
}

} // namespace pandel::platform::win32
