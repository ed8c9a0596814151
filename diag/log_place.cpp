// The log file's place and the channels' registry switches.
#include "diag/log_place.h"

#include "platform/platform.h"
#include "platform/regular_file.h"

namespace pandel {

std::string LogFilePlace() {
    return platform::Current().FixedPlacePath(kLogFilePath);
}

bool IsLogChannelSwitchedOff(const std::u16string& channelName) {
    return platform::Current().RegistryValueExists(kLogSwitchKey, channelName);
}

std::FILE* OpenLogFile() {
    // Appending, created when missing. Binary: the entries carry their own "\r\n", which a
    // text-mode stream on Windows would turn into "\r\r\n".
    return platform::OpenForAppending(LogFilePlace());
}

} // namespace pandel
