// Report text in the device-configuration messages: UTF-16 in memory, XML character data on the
// wire, written unit by unit with the service's own escaping.
#pragma once

#include <cstddef>
#include <string>

// The in-memory form of the xIn and xOut texts, named by the service definition: NUL-terminated
// UTF-16 units, owned by the SOAP context they travel in (or by the caller that sends them).
// Null is the empty text.
struct PandelReportText {
    const char16_t* units = nullptr;
};

namespace pandel::soap {

// The longest encoding of one unit: "&amp;".
inline constexpr std::size_t kMaxEncodedUnitBytes = 5;

// Writes the bytes that stand for one UTF-16 unit of report text into out (room for
// kMaxEncodedUnitBytes) and returns their count. & < > CR and LF become "&amp;" "&lt;" "&gt;"
// "&#xD;" "&#xA;"; every other unit below 0x80 is its own byte; units from 0x80 up are UTF-8 of
// the unit's value, each surrogate half on its own (three bytes).
std::size_t EncodeReportUnit(char16_t unit, char* out);

// The UTF-16 units of text that the SOAP runtime decoded into wide characters: a character
// beyond U+FFFF becomes a surrogate pair, every other character one unit. Characters beyond
// U+10FFFF become U+FFFD.
std::u16string ReportUnitsFromWide(const wchar_t* text);

} // namespace pandel::soap
