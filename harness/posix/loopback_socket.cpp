// The test servers' socket calls on POSIX: close-on-exec descriptors, poll, no SIGPIPE.
#include "harness/loopback_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pandel::test::loopback {
namespace {

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Binds fd to 127.0.0.1:port; the port it got, or 0.
std::uint16_t Bind(int fd, std::uint16_t port) {
    sockaddr_in address = Loopback(port);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

} // namespace

Socket Listen(std::uint16_t port, int backlog, int receiveBuffer, std::uint16_t* bound) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return kNoSocket;
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (receiveBuffer > 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    *bound = Bind(fd, port);
    if (*bound == 0 || listen(fd, backlog) != 0) {
        close(fd);
        return kNoSocket;
    }
    return fd;
}

Socket Accept(Socket listener) {
    const int fd = accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
    return fd < 0 ? kNoSocket : fd;
}

int Wait(Socket socket, bool forWriting, int ms) {
    pollfd p{static_cast<int>(socket), static_cast<short>(forWriting ? POLLOUT : POLLIN), 0};
    const int ready = poll(&p, 1, ms);
    return ready > 0 ? 1 : ready;
}

long Send(Socket socket, const char* data, std::size_t size) {
    ssize_t sent = 0;
    do {
        sent = send(static_cast<int>(socket), data, size, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return static_cast<long>(sent);
}

long Receive(Socket socket, char* buffer, std::size_t size, bool peek) {
    ssize_t got = 0;
    do {
        got = recv(static_cast<int>(socket), buffer, size, peek ? MSG_PEEK : 0);
    } while (got < 0 && errno == EINTR);
    return static_cast<long>(got);
}

void ShutdownSending(Socket socket) {
    shutdown(static_cast<int>(socket), SHUT_WR);
}

void Close(Socket socket) {
    close(static_cast<int>(socket));
}

std::uint16_t ClosedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    const std::uint16_t port = Bind(fd, 0);
    close(fd); // nothing listens there any more
    return port;
}

} // namespace pandel::test::loopback
