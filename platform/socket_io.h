// Sending and receiving on a connection that ConnectTcp opened, each wait bounded by the
// caller: compile-time only.
#pragma once

#include "platform/tcp_connect.h"

#include <cstddef>

namespace pandel::platform {

// What the system was last told about a connection's waits, so that it is told again only when
// the wait changes. Starts empty for each connection.
struct SocketWaits {
    int receiveMs = 0;
};

// Sends part of data, or all of it, waiting at most waitMs for the connection to take more.
// Returns the count sent, or -1 with the system's error number in *error (0 when the wait ran
// out). A connection the peer has closed gives an error, never a signal.
long SendSome(SocketHandle socket, const char* data, std::size_t length, int waitMs, int* error);

// Receives up to length bytes, waiting at most waitMs for the first of them. Returns the count
// (0: the peer closed the connection), or -1 with the system's error number in *error (0 when
// the wait ran out).
long ReceiveSome(SocketHandle socket, SocketWaits* waits, char* buffer, std::size_t length,
                 int waitMs, int* error);

} // namespace pandel::platform
