// Where the log channels write and what switches them off: the registry switch and the log file,
// each decided once when a channel is built.
#pragma once

#include <cstdio>
#include <string>

namespace pandel {

// Registry key whose values, named after the channels, switch channels off by existing.
inline constexpr const char16_t* kLogSwitchKey = u"Software\\Orvane\\LogModule";
// The one log file of every channel.
inline constexpr const char* kLogFilePath = "C:\\runtime.log";
// The module's two channels.
inline constexpr const char16_t* kPluginLogName = u"PluginPandel";
inline constexpr const char16_t* kDbgLogName = u"DbgPlugin";

// The native path of the log file.
std::string LogFilePlace();

// True when the channel's switch value exists: the channel then writes nowhere.
bool IsLogChannelSwitchedOff(const std::u16string& channelName);

// Opens the log file for appending, created when missing; null when it cannot be opened.
std::FILE* OpenLogFile();

} // namespace pandel
