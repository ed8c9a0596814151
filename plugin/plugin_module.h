// The module object: the seven entry points that the host drives, as operations of one class
// without data.
#pragma once

#include "pandel/host_command.h"
#include "platform/host_world.h"

#include <cstddef>
#include <cstdint>

namespace pandel {

// Bodies larger than this are not read: no Download document comes near it, and a host that
// reports more is not trusted with the module's memory.
inline constexpr std::int32_t kMaxBodyBytes = 64 * 1024 * 1024;

inline constexpr char16_t kDownloadCommandName[] = u"Download";

class CPandelPluginModule {
public:
    static std::int32_t InitModule();
    static std::int32_t UninitModule();
    static std::int32_t GetInfo();
    static std::int32_t RunTimeRoutine();
    static std::int32_t GetPluginVersion();
    static std::int32_t SetDbg();
    // Runs one command of the host; returns 0 whatever happens. Exceptions (an ErrObj from a
    // processor fault among them) pass to the host, in the host's own C++ world.
    static std::int32_t PostCommand(IHostCommand* command);
    // The command itself, with its name read by readName.
    static std::int32_t RunCommand(IHostCommand* command, platform::NameReader readName);
};

} // namespace pandel
