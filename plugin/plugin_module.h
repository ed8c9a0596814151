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

// The six simple exports: each takes no arguments, writes its line to PluginLog and returns 0.
#define PANDEL_SIMPLE_EXPORTS(X)                                                                   \
    X(InitModule, u"CPandelPluginModule InitModule()")                                             \
    X(UninitModule, u"CPandelPluginModule UninitModule()")                                         \
    X(GetInfo, u"CPandelPluginModule GetInfo()")                                                   \
    X(RunTimeRoutine, u"CPandelPluginModule RunTimeRoutine()")                                     \
    X(GetPluginVersion, u"CPandelPluginModule GetVersion()")                                       \
    X(SetDbg, u"SetDbg")

class CPandelPluginModule {
public:
#define PANDEL_DECLARE_SIMPLE_EXPORT(name, line) static std::int32_t name();
    PANDEL_SIMPLE_EXPORTS(PANDEL_DECLARE_SIMPLE_EXPORT)
#undef PANDEL_DECLARE_SIMPLE_EXPORT
    // Runs one command of the host; returns 0 whatever happens. Exceptions (an ErrObj from a
    // processor fault among them) pass to the host, in the host's own C++ world.
    static std::int32_t PostCommand(IHostCommand* command);
    // The command itself, with its name read by readName.
    static std::int32_t RunCommand(IHostCommand* command, platform::NameReader readName);
};

} // namespace pandel
