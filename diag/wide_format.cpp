// The typed, bounded UTF-16 formatter behind the log channels.
#include "diag/wide_format.h"

#include "platform/wide_text.h"

#include <algorithm>
#include <optional>

namespace pandel {
namespace {

constexpr char16_t kNullText[] = u"(null)";

struct Spec {
    bool left = false;
    bool zero = false;
    bool plus = false;
    bool space = false;
    bool alternate = false;
    std::size_t width = 0;
    std::optional<std::size_t> precision;
    char16_t conversion = 0;
};

bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// Reads a decimal field at p; nullopt when it exceeds kMaxFieldWidth.
std::optional<std::size_t> ReadField(const char16_t*& p) {
    std::size_t value = 0;
    while (IsDigit(*p)) {
        value = value * 10 + static_cast<std::size_t>(*p - u'0');
        if (value > kMaxFieldWidth)
            return std::nullopt;
        ++p;
    }
    return value;
}

// Parses the conversion after a '%'; p is left after it. nullopt on a malformed conversion.
std::optional<Spec> ParseSpec(const char16_t*& p) {
    Spec spec;
    for (;; ++p) {
        if (*p == u'-')
            spec.left = true;
        else if (*p == u'0')
            spec.zero = true;
        else if (*p == u'+')
            spec.plus = true;
        else if (*p == u' ')
            spec.space = true;
        else if (*p == u'#')
            spec.alternate = true;
        else
            break;
    }
    std::optional<std::size_t> width = ReadField(p);
    if (!width)
        return std::nullopt;
    spec.width = *width;
    if (*p == u'.') {
        ++p;
        spec.precision = ReadField(p);
        if (!spec.precision)
            return std::nullopt;
    }
    if (*p == u'h' || *p == u'l') {
        char16_t modifier = *p++;
        if (*p == modifier)
            ++p;
    }
    switch (*p) {
    case u'c':
    case u'd':
    case u'i':
    case u'u':
    case u'x':
    case u'X':
    case u's':
        spec.conversion = *p++;
        return spec;
    default:
        return std::nullopt;
    }
}

void Pad(std::u16string& out, std::size_t count, char16_t fill) {
    out.append(count, fill);
}

// Places body (after sign or prefix) in its field.
void PlaceInField(std::u16string& out, const Spec& spec, std::u16string_view prefix,
                  std::u16string_view body, bool zeroFill) {
    std::size_t length = prefix.size() + body.size();
    std::size_t padding = spec.width > length ? spec.width - length : 0;
    if (spec.left) {
        out.append(prefix).append(body);
        Pad(out, padding, u' ');
        return;
    }
    if (zeroFill) {
        out.append(prefix);
        Pad(out, padding, u'0');
        out.append(body);
        return;
    }
    Pad(out, padding, u' ');
    out.append(prefix).append(body);
}

std::u16string Digits(std::uint64_t value, unsigned base, bool upper) {
    const char16_t* digits = upper ? u"0123456789ABCDEF" : u"0123456789abcdef";
    std::u16string text;
    do {
        text.push_back(digits[value % base]);
        value /= base;
    } while (value != 0);
    std::reverse(text.begin(), text.end());
    return text;
}

bool FormatInteger(std::u16string& out, const Spec& spec, const FormatArg& arg) {
    if (arg.kind() != FormatArg::Kind::kInteger)
        return false;
    std::u16string prefix;
    std::uint64_t magnitude = 0;
    unsigned base = 10;
    if (spec.conversion == u'd' || spec.conversion == u'i') {
        std::int64_t value = arg.AsSigned();
        magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value) : std::uint64_t(value);
        if (value < 0)
            prefix = u"-";
        else if (spec.plus)
            prefix = u"+";
        else if (spec.space)
            prefix = u" ";
    } else {
        magnitude = arg.AsUnsigned();
        if (spec.conversion != u'u')
            base = 16;
        if (base == 16 && spec.alternate && magnitude != 0)
            prefix = spec.conversion == u'X' ? u"0X" : u"0x";
    }
    std::u16string body = Digits(magnitude, base, spec.conversion == u'X');
    if (spec.precision) {
        if (*spec.precision == 0 && magnitude == 0)
            body.clear();
        else if (body.size() < *spec.precision)
            body.insert(0, *spec.precision - body.size(), u'0');
    }
    PlaceInField(out, spec, prefix, body, spec.zero && !spec.precision);
    return true;
}

bool FormatText(std::u16string& out, const Spec& spec, const FormatArg& arg) {
    std::u16string converted;
    std::u16string_view text;
    if (arg.kind() == FormatArg::Kind::kInteger)
        return false;
    if (arg.isNull()) {
        text = kNullText;
    } else if (arg.kind() == FormatArg::Kind::kText16) {
        text = arg.text16();
    } else {
        converted = platform::Utf8ToUtf16(arg.text8());
        text = converted;
    }
    if (spec.precision && text.size() > *spec.precision)
        text = text.substr(0, *spec.precision);
    PlaceInField(out, spec, {}, text, false);
    return true;
}

bool FormatCharacter(std::u16string& out, const Spec& spec, const FormatArg& arg) {
    if (arg.kind() != FormatArg::Kind::kInteger)
        return false;
    char16_t unit = static_cast<char16_t>(arg.AsUnsigned());
    PlaceInField(out, spec, {}, std::u16string_view(&unit, 1), false);
    return true;
}

} // namespace

FormatArg::FormatArg(const char16_t* text) : kind_(Kind::kText16), null_(text == nullptr) {
    if (text != nullptr)
        text16_ = text;
}

FormatArg::FormatArg(const char* text) : kind_(Kind::kText8), null_(text == nullptr) {
    if (text != nullptr)
        text8_ = text;
}

std::int64_t FormatArg::AsSigned() const {
    if (bytes_ <= 4)
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(bits_));
    return static_cast<std::int64_t>(bits_);
}

std::uint64_t FormatArg::AsUnsigned() const {
    if (bytes_ <= 4)
        return static_cast<std::uint32_t>(bits_);
    return bits_;
}

std::u16string FormatWide(const char16_t* format, const FormatArg* args, std::size_t count,
                          std::size_t limit) {
    std::u16string out;
    if (format == nullptr)
        return out;
    std::size_t next = 0;
    const char16_t* p = format;
    while (*p != u'\0' && out.size() < limit) {
        if (*p != u'%') {
            out.push_back(*p++);
            continue;
        }
        ++p;
        if (*p == u'%') {
            out.push_back(*p++);
            continue;
        }
        std::optional<Spec> spec = ParseSpec(p);
        if (!spec || next >= count)
            return {};
        const FormatArg& arg = args[next++];
        bool fits = spec->conversion == u's'   ? FormatText(out, *spec, arg)
                    : spec->conversion == u'c' ? FormatCharacter(out, *spec, arg)
                                               : FormatInteger(out, *spec, arg);
        if (!fits)
            return {};
    }
    if (out.size() > limit)
        out.resize(limit);
    return out;
}

} // namespace pandel
