// The log channels: each CLogModule is one named channel appending entries
// "[hh:mm:ss][name]INFO:" + message + "\r\n" to "C:\runtime.log", or sending them to the
// debugger output when that file cannot be opened. The module has two, PluginLog and DbgLog.
#pragma once

#include "diag/log_place.h"
#include "diag/wide_format.h"

#include <array>
#include <cstddef>
#include <cstdio>
#include <string>

namespace pandel {

// WriteErrorLog keeps this many code units of an error text.
inline constexpr std::size_t kErrorTextLimit = 1023;

// One channel. Calls on one channel must not overlap: the entry buffer is shared by all of them.
class CLogModule {
public:
    // Reads the channel's registry switch and, when it is on, opens the log file for appending.
    // A file that cannot be opened is reported once on the debugger output, which then takes
    // every entry. Never fails.
    explicit CLogModule(const std::u16string& moduleName);
    ~CLogModule();
    CLogModule(const CLogModule&) = delete;
    CLogModule& operator=(const CLogModule&) = delete;

    // Formats one message (see diag/wide_format.h) and writes it as one entry, flushed at once.
    // A message that formats to nothing gives a bare line end. Nothing at all when disabled.
    template <typename... Args> void Write(const char16_t* format, const Args&... args) {
        const std::array<FormatArg, sizeof...(Args)> list{{FormatArg(args)...}};
        WriteFormatted(format, list.data(), list.size());
    }

    // The formatted text; empty for a null format or when formatting produces nothing.
    template <typename... Args>
    static std::u16string FormatString(const char16_t* format, const Args&... args) {
        const std::array<FormatArg, sizeof...(Args)> list{{FormatArg(args)...}};
        return FormatWide(format, list.data(), list.size());
    }

    // Writes message unformatted, as one entry.
    void WriteMessage(const std::u16string& message);

private:
    void WriteFormatted(const char16_t* format, const FormatArg* args, std::size_t count);

    bool showTime;
    bool disabled;
    std::u16string moduleName;
    std::u16string lineBuffer;
    std::FILE* logFile;
};

// The module's channels, built when the library is loaded (PluginLog first) ahead of every other
// static object, and destroyed in reverse after all of them.
extern CLogModule PluginLog; // "PluginPandel": the simple entry points
extern CLogModule DbgLog;    // "DbgPlugin": error reports

// Formats an error text, cuts it to kErrorTextLimit code units and writes it verbatim as one
// entry of DbgLog ("%" in the result is not formatted again).
template <typename... Args> void WriteErrorLog(const char16_t* format, const Args&... args) {
    const std::array<FormatArg, sizeof...(Args)> list{{FormatArg(args)...}};
    DbgLog.WriteMessage(FormatWide(format, list.data(), list.size(), kErrorTextLimit));
}

} // namespace pandel
