// TCP connect on Windows Sockets: a non-blocking connect and a select bounded by the give-up
// time (the system's own give-up comes about the same time).
#include "platform/tcp_connect.h"

#include "platform/win32/socket_wait.h"
#include "platform/win32/windows_api.h"

#include <ws2tcpip.h>

#include <chrono>
#include <mutex>

namespace pandel::platform {
namespace {

using Clock = std::chrono::steady_clock;

// Started once for the process and left running, as the SOAP runtime does at its first connect.
bool SocketsStarted() {
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        WSADATA data;
        started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return started;
}

SOCKET ConnectOne(const addrinfo& address, std::chrono::milliseconds allowed) {
    const SOCKET sk = socket(address.ai_family, SOCK_STREAM, IPPROTO_TCP);
    if (sk == INVALID_SOCKET)
        return INVALID_SOCKET;
    u_long on = 1;
    BOOL noDelay = TRUE;
    if (ioctlsocket(sk, FIONBIO, &on) != 0 ||
        setsockopt(sk, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                   sizeof noDelay) != 0) {
        closesocket(sk);
        return INVALID_SOCKET;
    }
    if (connect(sk, address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0)
        return sk;
    if (WSAGetLastError() != WSAEWOULDBLOCK) {
        closesocket(sk);
        return INVALID_SOCKET;
    }
    int error = 0;
    if (win32::WaitForSocket(sk, true, allowed.count(), &error) == win32::SocketWait::kReady)
        return sk;
    closesocket(sk);
    return INVALID_SOCKET;
}

} // namespace

SocketHandle ConnectTcp(const std::string& host, int port, int giveUpMs, std::string* failure) {
    const Clock::time_point giveUp = Clock::now() + std::chrono::milliseconds(giveUpMs);
    if (!SocketsStarted()) {
        *failure = "Windows Sockets not started";
        return kNoSocket;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0) {
        *failure = "host name not resolved";
        return kNoSocket;
    }
    SOCKET sk = INVALID_SOCKET;
    for (const addrinfo* entry = found; entry != nullptr && sk == INVALID_SOCKET;
         entry = entry->ai_next) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(giveUp - Clock::now());
        if (left.count() <= 0)
            break;
        sk = ConnectOne(*entry, left);
    }
    freeaddrinfo(found);
    if (sk == INVALID_SOCKET) {
        *failure = "connect failed";
        return kNoSocket;
    }
    return static_cast<SocketHandle>(sk);
}

} // namespace pandel::platform
