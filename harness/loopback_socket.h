// The socket calls of the test servers on 127.0.0.1, one file per system (posix/, win32/): the
// servers' logic above them is written once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pandel::test::loopback {

// A socket as the system numbers it; kNoSocket when there is none.
using Socket = std::intptr_t;
inline constexpr Socket kNoSocket = -1;

// A socket listening on 127.0.0.1:port (0: a free port), its port in *bound. receiveBuffer > 0
// shrinks the receive buffer of the connections it accepts. kNoSocket when that cannot be had.
Socket Listen(std::uint16_t port, int backlog, int receiveBuffer, std::uint16_t* bound);

// The next connection waiting on listener; kNoSocket when there is none or accepting fails.
Socket Accept(Socket listener);

// Waits up to ms for the socket to become readable (or writable): 1 ready, 0 the wait ran out,
// -1 failed. A closed or failed connection counts as ready.
int Wait(Socket socket, bool forWriting, int ms);

// Sends what the connection takes of data now: the count, or -1 (also once the peer has gone;
// never a signal).
long Send(Socket socket, const char* data, std::size_t size);

// Receives up to size bytes (with peek, leaves them queued): the count, 0 at the peer's close,
// -1 on error.
long Receive(Socket socket, char* buffer, std::size_t size, bool peek = false);

// Tells the peer no more bytes come (a FIN), keeping the receiving side open.
void ShutdownSending(Socket socket);

void Close(Socket socket);

// A port of 127.0.0.1 that was free a moment ago and on which nothing listens; 0 on failure.
std::uint16_t ClosedPort();

} // namespace pandel::test::loopback
