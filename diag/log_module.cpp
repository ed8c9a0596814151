// The log channels and the two channels of the module.
#include "diag/log_module.h"

#include "platform/platform.h"
#include "platform/wide_text.h"

namespace pandel {
namespace {

constexpr const char16_t* kTimedPrefix = u"[%02d:%02d:%02d][%s]INFO:";
constexpr const char16_t* kPlainPrefix = u"[%s]INFO:";
constexpr const char16_t* kCannotOpenText =
    u"Cannot open log file:%s, redirect the log using OutputDebugString().\r\n";
constexpr const char16_t* kLineEnd = u"\r\n";

} // namespace

CLogModule::CLogModule(const std::u16string& name)
    : showTime(true), disabled(false), moduleName(name), logFile(nullptr) {
    if (IsLogChannelSwitchedOff(moduleName))
        disabled = true;
    if (disabled)
        return;
    logFile = OpenLogFile();
    if (logFile != nullptr)
        return;
    lineBuffer = FormatString(kCannotOpenText, LogFilePlace());
    platform::Current().DebugOutput(lineBuffer);
}

CLogModule::~CLogModule() {
    if (logFile != nullptr)
        std::fclose(logFile);
}

void CLogModule::WriteFormatted(const char16_t* format, const FormatArg* args, std::size_t count) {
    if (disabled)
        return;
    WriteMessage(FormatWide(format, args, count));
}

void CLogModule::WriteMessage(const std::u16string& message) {
    if (disabled)
        return;
    lineBuffer.clear();
    if (!message.empty()) {
        if (showTime) {
            platform::LocalTime now = platform::Current().LocalTimeNow();
            lineBuffer = FormatString(kTimedPrefix, now.hour, now.minute, now.second, moduleName);
        } else {
            lineBuffer = FormatString(kPlainPrefix, moduleName);
        }
        lineBuffer += message;
    }
    if (logFile != nullptr) {
        // Write errors are not reported: the entry is simply lost.
        std::string bytes = platform::Utf16ToUtf8(lineBuffer);
        bytes += "\r\n";
        std::fwrite(bytes.data(), 1, bytes.size(), logFile);
        std::fflush(logFile);
        return;
    }
    lineBuffer += kLineEnd;
    platform::Current().DebugOutput(lineBuffer);
}

// Both channels sit in this one unit, in this order, with the first two priorities: they are
// built before any other static object of the library, whatever the link order, and so outlive
// all of them. Whatever their constructors reach (the platform) must not rely on dynamically
// initialised objects at namespace scope.
CLogModule PluginLog __attribute__((init_priority(101))) (kPluginLogName);
CLogModule DbgLog __attribute__((init_priority(102))) (kDbgLogName);

} // namespace pandel
