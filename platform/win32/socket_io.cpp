// Socket transfers on Windows Sockets: the connection is non-blocking, and each transfer waits in
// select for at most the caller's wait. A send to a closed connection fails with an error and
// raises nothing.
#include "platform/socket_io.h"

#include "platform/win32/socket_wait.h"
#include "platform/win32/windows_api.h"

#include <chrono>
#include <climits>

namespace pandel::platform {
namespace {

using Clock = std::chrono::steady_clock;

// Ready or failed, the transfer itself says which; 1, or -1 with *error set (0: the wait ran out).
int WaitReady(SOCKET sk, bool forWriting, int waitMs, int* error) {
    switch (win32::WaitForSocket(sk, forWriting, waitMs, error)) {
    case win32::SocketWait::kReady:
    case win32::SocketWait::kFailed:
        return 1;
    case win32::SocketWait::kTimedOut:
        *error = 0;
        return -1;
    case win32::SocketWait::kError:
        break;
    }
    return -1;
}

int ChunkLength(std::size_t length) {
    return length > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);
}

} // namespace

namespace win32 {

SocketWait WaitForSocket(SOCKET sk, bool forWriting, long long waitMs, int* error) {
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(sk, &ready);
    FD_SET(sk, &failed);
    timeval limit{};
    limit.tv_sec = static_cast<long>(waitMs / 1000);
    limit.tv_usec = static_cast<long>((waitMs % 1000) * 1000);
    const int found = forWriting ? select(0, nullptr, &ready, &failed, &limit)
                                 : select(0, &ready, nullptr, &failed, &limit);
    if (found == SOCKET_ERROR) {
        *error = WSAGetLastError();
        return SocketWait::kError;
    }
    if (found == 0)
        return SocketWait::kTimedOut;
    return FD_ISSET(sk, &failed) ? SocketWait::kFailed : SocketWait::kReady;
}

} // namespace win32

long SendSome(SocketHandle socket, const char* data, std::size_t length, int waitMs, int* error) {
    const SOCKET sk = static_cast<SOCKET>(socket);
    if (WaitReady(sk, true, waitMs, error) < 0)
        return -1;
    const int sent = send(sk, data, ChunkLength(length), 0);
    if (sent != SOCKET_ERROR)
        return sent;
    const int failure = WSAGetLastError();
    if (failure == WSAEWOULDBLOCK)
        return 0; // the caller sends the rest, each wait bounded again
    *error = failure;
    return -1;
}

long ReceiveSome(SocketHandle socket, SocketWaits*, char* buffer, std::size_t length, int waitMs,
                 int* error) {
    const SOCKET sk = static_cast<SOCKET>(socket);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            *error = 0;
            return -1;
        }
        if (WaitReady(sk, false, static_cast<int>(left.count()), error) < 0)
            return -1;
        const int got = recv(sk, buffer, ChunkLength(length), 0);
        if (got != SOCKET_ERROR)
            return got;
        const int failure = WSAGetLastError();
        if (failure != WSAEWOULDBLOCK) {
            *error = failure;
            return -1;
        }
    }
}

} // namespace pandel::platform
