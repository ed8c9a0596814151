// Socket transfers on POSIX, with as few system calls as the waits allow: the connection stays
// blocking. A send is tried first, since a request almost always fits the socket's buffer, and
// waits only when it does not. A receive waits by the socket's receive time-out, set once per
// connection for as long as the wait stays the same, since the answer is rarely there yet.
#include "platform/socket_io.h"

#include <cerrno>
#include <chrono>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

namespace pandel::platform {
namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool SetReceiveWait(int fd, int waitMs) {
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(waitMs / 1000);
    limit.tv_usec = static_cast<suseconds_t>((waitMs % 1000) * 1000);
    return setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) == 0;
}

} // namespace

long SendSome(SocketHandle socket, const char* data, std::size_t length, int waitMs, int* error) {
    const int fd = static_cast<int>(socket);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        const ssize_t sent = send(fd, data, length, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent >= 0)
            return static_cast<long>(sent);
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            *error = errno;
            return -1;
        }
        pollfd room{fd, POLLOUT, 0};
        int ready = 0;
        do {
            const int left = MillisecondsUntil(deadline);
            if (left == 0)
                break;
            ready = poll(&room, 1, left);
        } while (ready < 0 && errno == EINTR);
        if (ready < 0) {
            *error = errno;
            return -1;
        }
        if (ready == 0) {
            *error = 0;
            return -1;
        }
    }
}

long ReceiveSome(SocketHandle socket, SocketWaits* waits, char* buffer, std::size_t length,
                 int waitMs, int* error) {
    const int fd = static_cast<int>(socket);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    int wait = waitMs;
    for (;;) {
        // A time-out of zero would mean no time-out at all.
        wait = wait < 1 ? 1 : wait;
        if (waits->receiveMs != wait) {
            if (!SetReceiveWait(fd, wait)) {
                *error = errno;
                return -1;
            }
            waits->receiveMs = wait;
        }
        const ssize_t got = recv(fd, buffer, length, 0);
        if (got >= 0)
            return static_cast<long>(got);
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            *error = 0;
            return -1;
        }
        if (errno != EINTR) {
            *error = errno;
            return -1;
        }
        // A signal cut the wait short; the rest of it, not a new one.
        wait = MillisecondsUntil(deadline);
        if (wait == 0) {
            *error = 0;
            return -1;
        }
    }
}

} // namespace pandel::platform
