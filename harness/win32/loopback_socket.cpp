// The test servers' socket calls on Windows: Winsock, started once for the process, and select.
#include "harness/loopback_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <climits>

namespace pandel::test::loopback {
namespace {

// Winsock must be started before the first socket call; it stays started until the process ends.
void StartWinsock() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}

SOCKET Native(Socket socket) {
    return static_cast<SOCKET>(socket);
}

// Binds s to 127.0.0.1:port; the port it got, or 0.
std::uint16_t Bind(SOCKET s, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

int Clamp(std::size_t size) {
    return static_cast<int>(std::min<std::size_t>(size, INT_MAX));
}

} // namespace

Socket Listen(std::uint16_t port, int backlog, int receiveBuffer, std::uint16_t* bound) {
    StartWinsock();
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return kNoSocket;
    // No SO_REUSEADDR: on Windows it would let another socket take the port from this one.
    if (receiveBuffer > 0)
        setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer),
                   sizeof receiveBuffer);
    *bound = Bind(s, port);
    if (*bound == 0 || listen(s, backlog) != 0) {
        closesocket(s);
        return kNoSocket;
    }
    return static_cast<Socket>(s);
}

Socket Accept(Socket listener) {
    const SOCKET s = accept(Native(listener), nullptr, nullptr);
    return s == INVALID_SOCKET ? kNoSocket : static_cast<Socket>(s);
}

int Wait(Socket socket, bool forWriting, int ms) {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(Native(socket), &ready);
    timeval wait{ms / 1000, (ms % 1000) * 1000};
    const int count =
        select(0, forWriting ? nullptr : &ready, forWriting ? &ready : nullptr, nullptr, &wait);
    return count > 0 ? 1 : count;
}

long Send(Socket socket, const char* data, std::size_t size) {
    return send(Native(socket), data, Clamp(size), 0);
}

long Receive(Socket socket, char* buffer, std::size_t size, bool peek) {
    return recv(Native(socket), buffer, Clamp(size), peek ? MSG_PEEK : 0);
}

void ShutdownSending(Socket socket) {
    shutdown(Native(socket), SD_SEND);
}

void Close(Socket socket) {
    closesocket(Native(socket));
}

std::uint16_t ClosedPort() {
    StartWinsock();
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return 0;
    const std::uint16_t port = Bind(s, 0);
    closesocket(s); // nothing listens there any more
    return port;
}

} // namespace pandel::test::loopback
