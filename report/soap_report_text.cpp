// The escaping of report text unit by unit, and its way back from the runtime's wide characters.
#include "report/soap_report_text.h"

#include <cstring>

namespace pandel::soap {

std::size_t EncodeReportUnit(char16_t unit, char* out) {
    const char* entity = nullptr;
    switch (unit) {
    case u'&':
        entity = "&amp;";
        break;
    case u'<':
        entity = "&lt;";
        break;
    case u'>':
        entity = "&gt;";
        break;
    case u'\r':
        entity = "&#xD;";
        break;
    case u'\n':
        entity = "&#xA;";
        break;
    default:
        break;
    }
    if (entity != nullptr) {
        const std::size_t length = std::strlen(entity);
        std::memcpy(out, entity, length);
        return length;
    }
    const unsigned value = unit;
    if (value < 0x80) {
        out[0] = static_cast<char>(value);
        return 1;
    }
    if (value < 0x800) {
        out[0] = static_cast<char>(0xC0 | (value >> 6));
        out[1] = static_cast<char>(0x80 | (value & 0x3F));
        return 2;
    }
    out[0] = static_cast<char>(0xE0 | (value >> 12));
    out[1] = static_cast<char>(0x80 | ((value >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (value & 0x3F));
    return 3;
}

std::u16string ReportUnitsFromWide(const wchar_t* text) {
    std::u16string units;
    if (text == nullptr)
        return units;
    for (; *text != L'\0'; ++text) {
        const auto value = static_cast<unsigned long>(*text);
        if (value > 0x10FFFF) {
            units.push_back(u'\uFFFD');
        } else if (value > 0xFFFF) {
            const unsigned long offset = value - 0x10000;
            units.push_back(static_cast<char16_t>(0xD800 + (offset >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + (offset & 0x3FF)));
        } else {
            units.push_back(static_cast<char16_t>(value));
        }
    }
    return units;
}

} // namespace pandel::soap
