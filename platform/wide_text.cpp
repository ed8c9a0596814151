// UTF-16 <-> UTF-8 conversion for the whole module.
#include "platform/wide_text.h"

#include <cstdint>

namespace pandel::platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool IsLowSurrogate(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

} // namespace

// Sized exactly first and then filled through a pointer: the texts converted are whole command
// bodies and documents, and growing a string byte by byte costs more than the conversion. Both
// passes are plain loops over the units for text without surrogates, and a straight copy for
// ASCII, the common case.
void Utf16ToUtf8(std::u16string_view text, std::string* converted) {
    std::string& out = *converted;
    const std::size_t count = text.size();
    const char16_t* units = text.data();
    // Counted without branches so that the compiler can take many units at a time.
    std::size_t extra = 0;
    std::size_t surrogates = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const char16_t u = units[i];
        extra += static_cast<std::size_t>(u >= 0x80) + static_cast<std::size_t>(u >= 0x800);
        surrogates += static_cast<std::size_t>((u & 0xF800) == 0xD800);
    }
    if (extra == 0) {
        out.resize(count);
        char* ascii = out.data();
        for (std::size_t i = 0; i < count; ++i)
            ascii[i] = static_cast<char>(units[i]);
        return;
    }
    std::size_t bytes = count + extra;
    if (surrogates != 0) {
        // Counted as three bytes per unit above; a valid pair takes four for its two units.
        for (std::size_t i = 0; i + 1 < count; ++i) {
            if (IsHighSurrogate(text[i]) && IsLowSurrogate(text[i + 1])) {
                bytes -= 2;
                ++i;
            }
        }
    }
    out.resize(bytes);
    char* p = out.data();
    auto put = [&p](std::uint32_t byte) { *p++ = static_cast<char>(byte); };
    for (std::size_t i = 0; i < count; ++i) {
        char32_t c = text[i];
        if (c < 0x80) {
            put(c);
            continue;
        }
        if (c < 0x800) {
            put(0xC0 | (c >> 6));
            put(0x80 | (c & 0x3F));
            continue;
        }
        if (IsHighSurrogate(text[i]) && i + 1 < count && IsLowSurrogate(text[i + 1])) {
            c = 0x10000 + ((c - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00);
            ++i;
            put(0xF0 | (c >> 18));
            put(0x80 | ((c >> 12) & 0x3F));
            put(0x80 | ((c >> 6) & 0x3F));
            put(0x80 | (c & 0x3F));
            continue;
        }
        if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i]))
            c = kReplacement;
        put(0xE0 | (c >> 12));
        put(0x80 | ((c >> 6) & 0x3F));
        put(0x80 | (c & 0x3F));
    }
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    Utf16ToUtf8(text, &out);
    return out;
}

// Never more UTF-16 units than UTF-8 bytes: sized for that, filled, then cut to what was written.
std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out(text.size(), u'\0');
    char16_t* p = out.data();
    const std::size_t size = text.size();
    std::size_t i = 0;
    while (i < size) {
        auto b0 = static_cast<std::uint8_t>(text[i]);
        if (b0 < 0x80) {
            *p++ = b0;
            ++i;
            continue;
        }
        std::size_t length = 0;
        char32_t c = 0;
        char32_t minimum = 0;
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            length = 2, c = b0 & 0x1F, minimum = 0x80;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            length = 3, c = b0 & 0x0F, minimum = 0x800;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            length = 4, c = b0 & 0x07, minimum = 0x10000;
        }
        std::size_t taken = 1;
        bool valid = length != 0;
        while (valid && taken < length) {
            if (i + taken >= size) {
                valid = false;
                break;
            }
            auto b = static_cast<std::uint8_t>(text[i + taken]);
            if ((b & 0xC0) != 0x80) {
                valid = false;
                break;
            }
            c = (c << 6) | (b & 0x3F);
            ++taken;
        }
        if (valid && (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)))
            valid = false;
        if (!valid) {
            *p++ = static_cast<char16_t>(kReplacement);
            i += 1;
            continue;
        }
        // A 4-byte sequence gives two units, a shorter one a single unit.
        if (c < 0x10000) {
            *p++ = static_cast<char16_t>(c);
        } else {
            c -= 0x10000;
            *p++ = static_cast<char16_t>(0xD800 | (c >> 10));
            *p++ = static_cast<char16_t>(0xDC00 | (c & 0x3FF));
        }
        i += length;
    }
    out.resize(static_cast<std::size_t>(p - out.data()));
    return out;
}

} // namespace pandel::platform
