// Formatting of the per-request output of devcfg-server.
#include "tools/devcfg-server/request_record.h"

#include "platform/wide_text.h"
#include "tools/common/json_text.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace platform = pandel::platform;

namespace devcfg {
namespace {

const char* TextOrNone(const char* text) {
    return text != nullptr ? text : "(none)";
}

void AppendField(std::string& out, const char* name, const char* value) {
    out += ",\"";
    out += name;
    out += "\":";
    if (value == nullptr) {
        out += "null";
        return;
    }
    pandel::tools::AppendJsonString(out, platform::Utf8ToUtf16(value));
}

} // namespace

std::string UtcTimeNow() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const long millis = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000);
    std::tm utc{};
    if (const std::tm* converted = std::gmtime(&seconds))
        utc = *converted;
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, millis);
    return text;
}

std::string TextBlock(const RequestRecord& record) {
    const std::string number = std::to_string(record.number);
    if (!record.fault.empty())
        return "--- refused #" + number + ": " + record.fault + "\n";
    return "--- " + record.operation + " #" + number +
           "\nMessageID: " + TextOrNone(record.messageId) + "\nFrom: " + TextOrNone(record.from) +
           "\nTo: " + TextOrNone(record.to) + "\nAction: " + TextOrNone(record.action) +
           "\nReport (" + std::to_string(record.report.size()) + " units):\n" +
           platform::Utf16ToUtf8(record.report) + "\n--- end\n";
}

std::string JsonLine(const RequestRecord& record) {
    std::string out =
        "{\"request\":" + std::to_string(record.number) + ",\"time\":\"" + record.time + "\"";
    if (!record.fault.empty()) {
        out += ",\"fault\":\"Client\",\"reason\":";
        pandel::tools::AppendJsonString(out, platform::Utf8ToUtf16(record.fault));
        return out + "}\n";
    }
    AppendField(out, "operation", record.operation.c_str());
    AppendField(out, "messageId", record.messageId);
    AppendField(out, "from", record.from);
    AppendField(out, "to", record.to);
    AppendField(out, "action", record.action);
    out += ",\"report\":";
    pandel::tools::AppendJsonString(out, record.report);
    return out + "}\n";
}

} // namespace devcfg
