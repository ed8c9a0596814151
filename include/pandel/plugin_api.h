// The module's seven entry points, exported under these undecorated names, and a function-pointer
// type for each, for hosts that load the module by file name (dlopen/dlsym, LoadLibrary/
// GetProcAddress). Every entry point returns 0. The six simple ones only write their log line.
#pragma once

#include "pandel/host_command.h"
#include "pandel/visibility.h"

#include <cstdint>

extern "C" {
PANDEL_ENTRY_POINT std::int32_t InitModule();
PANDEL_ENTRY_POINT std::int32_t UninitModule();
PANDEL_ENTRY_POINT std::int32_t GetInfo();
PANDEL_ENTRY_POINT std::int32_t RunTimeRoutine();
PANDEL_ENTRY_POINT std::int32_t GetPluginVersion();
PANDEL_ENTRY_POINT std::int32_t SetDbg();
// Runs one command on the calling thread, to its last report. A "Download" command is read
// through command; any other name is dropped. Installs the module's fault translator on the
// calling thread for the rest of its life: a processor fault there becomes a thrown
// pandel::ErrObj (pandel/err_obj.h), which passes to the caller.
PANDEL_ENTRY_POINT std::int32_t PostCommand(pandel::IHostCommand* command);
}

namespace pandel {

using InitModuleFunction = std::int32_t (*)();
using UninitModuleFunction = std::int32_t (*)();
using GetInfoFunction = std::int32_t (*)();
using RunTimeRoutineFunction = std::int32_t (*)();
using GetPluginVersionFunction = std::int32_t (*)();
using SetDbgFunction = std::int32_t (*)();
using PostCommandFunction = std::int32_t (*)(IHostCommand* command);

} // namespace pandel
