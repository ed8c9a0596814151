// Names of registry keys, registry values and named locks that mean the same on every system.
// Portable code.
#pragma once

#include <string_view>

namespace pandel::platform {

namespace detail {
template <typename Char> bool IsPlainNameOf(std::basic_string_view<Char> name) {
    const Char dot[] = {Char('.'), Char('.')};
    if (name.empty() || name == std::basic_string_view<Char>(dot, 1) ||
        name == std::basic_string_view<Char>(dot, 2))
        return false;
    for (Char c : name) {
        if (c == Char('/') || c == Char('\0'))
            return false;
    }
    return true;
}
} // namespace detail

// A plain name is not empty, not "." or "..", and holds no '/' and no NUL: where names become
// files it stays inside its directory, and on Windows it cannot stand for a key's default
// value or be cut short.
inline bool IsPlainName(std::u16string_view name) {
    return detail::IsPlainNameOf(name);
}
inline bool IsPlainName(std::string_view name) {
    return detail::IsPlainNameOf(name);
}

// A lock name is a plain name without '\\' (which picks a namespace of Windows' object
// manager).
inline bool IsPlainLockName(std::u16string_view name) {
    return IsPlainName(name) && name.find(u'\\') == std::u16string_view::npos;
}

// A key path ("Software\\Orvane\\LogModule") is plain when it is empty or every part between
// its '\' separators is a plain name.
inline bool IsPlainKeyPath(std::u16string_view key) {
    if (key.empty())
        return true;
    for (std::size_t start = 0;;) {
        const std::size_t end = key.find(u'\\', start);
        if (!IsPlainName(key.substr(start, end == std::u16string_view::npos ? end : end - start)))
            return false;
        if (end == std::u16string_view::npos)
            return true;
        start = end + 1;
    }
}

} // namespace pandel::platform
