// A small printf-style formatter for the module's UTF-16 texts. Arguments are captured with their
// types, so a conversion that does not fit its argument is a format error instead of a read of
// the wrong memory, and nothing is ever written through an argument.
//
// Conversions: %% %c %d %i %u %x %X %s, with the flags '-' '0' '+' ' ' '#', a decimal width and
// a precision (".N": minimum digits for integers, maximum code units for %s), each at most
// kMaxFieldWidth. The length modifiers h, hh, l and ll are accepted and ignored (the argument's
// own type decides). %d, %i, %u, %x and %X take an integer, read at the argument's own width as
// printf would read it; %c takes an integer (one UTF-16 code unit); %s takes UTF-16 text
// (char16_t* or std::u16string) or UTF-8 text (char* or std::string), a null pointer giving
// "(null)". Anything else -- another conversion, a missing argument, an argument of the wrong
// kind, a field wider than kMaxFieldWidth, a '%' ending the format -- is a format error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace pandel {

inline constexpr std::size_t kMaxFieldWidth = 1024;
inline constexpr std::size_t kNoFormatLimit = static_cast<std::size_t>(-1);

// One formatting argument: an integer with its width and signedness, or a piece of text.
class FormatArg {
public:
    enum class Kind { kInteger, kText16, kText8 };

    template <typename T, std::enable_if_t<std::is_integral_v<T> || std::is_enum_v<T>, int> = 0>
    FormatArg(T value)
        : kind_(Kind::kInteger), bits_(static_cast<std::uint64_t>(value)), bytes_(sizeof(T)),
          signed_(std::is_signed_v<T>) {}
    FormatArg(const char16_t* text);
    FormatArg(const std::u16string& text) : kind_(Kind::kText16), text16_(text) {}
    FormatArg(std::u16string_view text) : kind_(Kind::kText16), text16_(text) {}
    FormatArg(const char* text);
    FormatArg(const std::string& text) : kind_(Kind::kText8), text8_(text) {}

    Kind kind() const { return kind_; }
    // The integer as printf's %d reads it: at 32 bits for arguments of up to 4 bytes.
    std::int64_t AsSigned() const;
    // The integer as %u and %x read it.
    std::uint64_t AsUnsigned() const;
    bool isNull() const { return null_; }
    std::u16string_view text16() const { return text16_; }
    std::string_view text8() const { return text8_; }

private:
    Kind kind_;
    std::uint64_t bits_ = 0;
    std::size_t bytes_ = 0;
    bool signed_ = false;
    bool null_ = false;
    std::u16string_view text16_;
    std::string_view text8_;
};

// The formatted text, cut to at most limit code units; empty on a format error or for a null
// format.
std::u16string FormatWide(const char16_t* format, const FormatArg* args, std::size_t count,
                          std::size_t limit = kNoFormatLimit);

} // namespace pandel
