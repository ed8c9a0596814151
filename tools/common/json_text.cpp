// JSON string literals for the tools' machine-readable output.
#include "tools/common/json_text.h"

#include <cstdio>

namespace pandel::tools {
namespace {

void AppendUnit(std::string& out, char16_t unit) {
    switch (unit) {
    case u'"':
        out += "\\\"";
        return;
    case u'\\':
        out += "\\\\";
        return;
    case u'\n':
        out += "\\n";
        return;
    case u'\r':
        out += "\\r";
        return;
    case u'\t':
        out += "\\t";
        return;
    default:
        break;
    }
    if (unit >= 0x20 && unit < 0x7F) {
        out += static_cast<char>(unit);
        return;
    }
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(unit));
    out += escape;
}

} // namespace

void AppendJsonString(std::string& out, const std::u16string& text) {
    out += '"';
    for (char16_t unit : text)
        AppendUnit(out, unit);
    out += '"';
}

} // namespace pandel::tools
