// TCP connect on POSIX: a blocking connect bounded by the socket's send time-out, which Linux
// applies to the handshake, so no poll is needed around it unless a signal cuts the connect
// short. The socket stays blocking and keeps Nagle's algorithm, which Linux never applies to the
// end of a request sent in one piece.
#include "platform/tcp_connect.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pandel::platform {
namespace {

using Clock = std::chrono::steady_clock;

// A connect with a send time-out is never restarted after a signal, whatever the handler's
// flags: the handshake goes on in the kernel, so what is left of the time is waited for here.
// 0 once connected, else the reason.
int FinishInterruptedConnect(int fd, Clock::time_point giveUp) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(giveUp - Clock::now());
        if (left.count() <= 0)
            return ETIMEDOUT;
        pollfd waiting{fd, POLLOUT, 0};
        const int ready = poll(&waiting, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return errno;
        if (ready == 0)
            return ETIMEDOUT;
        int error = 0;
        socklen_t size = sizeof error;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
            return errno;
        return error;
    }
}

int ConnectOne(const addrinfo& address, std::chrono::milliseconds allowed, int* error) {
    const Clock::time_point giveUp = Clock::now() + allowed;
    const int fd = socket(address.ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = errno;
        return -1;
    }
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(allowed.count() / 1000);
    limit.tv_usec = static_cast<suseconds_t>((allowed.count() % 1000) * 1000);
    if (setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) != 0) {
        *error = errno;
        close(fd);
        return -1;
    }
    if (connect(fd, address.ai_addr, address.ai_addrlen) == 0)
        return fd;
    // A handshake cut short by the time-out reports EINPROGRESS.
    *error = errno == EINPROGRESS ? ETIMEDOUT : errno;
    if (*error == EINTR)
        *error = FinishInterruptedConnect(fd, giveUp);
    if (*error == 0)
        return fd;
    close(fd);
    return -1;
}

} // namespace

SocketHandle ConnectTcp(const std::string& host, int port, int giveUpMs, std::string* failure) {
    const Clock::time_point giveUp = Clock::now() + std::chrono::milliseconds(giveUpMs);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0) {
        *failure = "host name not resolved";
        return kNoSocket;
    }
    int error = ETIMEDOUT;
    int fd = -1;
    for (const addrinfo* entry = found; entry != nullptr && fd < 0; entry = entry->ai_next) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(giveUp - Clock::now());
        if (left.count() <= 0)
            break;
        fd = ConnectOne(*entry, left, &error);
    }
    freeaddrinfo(found);
    if (fd < 0)
        *failure = std::strerror(error);
    return fd;
}

} // namespace pandel::platform
