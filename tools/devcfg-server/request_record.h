// What devcfg-server prints for each request: the text block for people, one JSON object per
// line for scripts (--json).
#pragma once

#include <string>

namespace devcfg {

struct RequestRecord {
    long number = 0;                 // 1 for the first request the server accepted
    std::string time;                // when it was read, UTC, "2026-01-31T12:00:00.123Z"
    std::string operation;           // "Set" or "Get"; empty for a request refused as malformed
    const char* messageId = nullptr; // header fields, null when absent
    const char* from = nullptr;
    const char* to = nullptr;
    const char* action = nullptr;
    std::u16string report; // the decoded xIn
    std::string fault;     // why the request was refused with a Client fault, or empty
};

// The UTC time now in the record's form.
std::string UtcTimeNow();

// The text block: "--- Set #1" ... "--- end", or "--- refused #1: why", each line ending in LF.
std::string TextBlock(const RequestRecord& record);

// One JSON object and LF. Text outside printable ASCII is written as \uXXXX escapes of its
// UTF-16 units, so a lone surrogate in a report survives as it came.
std::string JsonLine(const RequestRecord& record);

} // namespace devcfg
