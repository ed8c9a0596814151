// The host's C++ world on POSIX: one compiler's, the module's own.
#include "platform/host_world.h"

namespace pandel::platform {

std::int32_t ServeHostCommand(void* command, NameReader ownName, CommandRun run, ErrObjReport) {
    return run(command, ownName, nullptr);
}

} // namespace pandel::platform
