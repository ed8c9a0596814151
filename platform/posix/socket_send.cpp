// Socket sends on POSIX: MSG_NOSIGNAL keeps SIGPIPE away from a write to a closed connection.
#include "platform/socket_send.h"

#include <sys/socket.h>

namespace platform {

int NoSignalSendFlags() {
    return MSG_NOSIGNAL;
}

} // namespace platform
