// Socket sends on Windows: a write to a closed connection fails with an error and raises nothing,
// so no flag is needed.
#include "platform/socket_send.h"

namespace platform {

int NoSignalSendFlags() {
    return 0;
}

} // namespace platform
