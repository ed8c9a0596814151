// The scripted loopback server: POSIX sockets, one connection, bounded waits.
#include "tests/report/scripted_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace pandel::test {

namespace {

constexpr int kWaitMs = 30000;                       // any single wait of the server
constexpr std::uint64_t kStreamLimit = 256ull << 20; // filler stops here in any case
constexpr std::size_t kRequestLimit = 16u << 20;     // a request is never bigger in tests

bool WaitFor(int fd, short events) {
    pollfd p{fd, events, 0};
    return poll(&p, 1, kWaitMs) == 1;
}

int Listen(std::uint16_t port, std::uint16_t* bound) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 8) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(fd);
        return -1;
    }
    *bound = ntohs(address.sin_port);
    return fd;
}

// The request is complete once its header block and Content-Length bytes of body are in.
bool RequestComplete(const std::string& request) {
    const std::size_t end = request.find("\r\n\r\n");
    if (end == std::string::npos)
        return false;
    const std::size_t field = request.find("Content-Length: ");
    if (field == std::string::npos || field > end)
        return true;
    const std::size_t length = std::strtoul(request.c_str() + field + 16, nullptr, 10);
    return request.size() >= end + 4 + length;
}

void ReadRequest(int fd, std::string& request) {
    char buffer[65536];
    while (!RequestComplete(request) && request.size() < kRequestLimit && WaitFor(fd, POLLIN)) {
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            return;
        request.append(buffer, static_cast<std::size_t>(got));
    }
}

bool SendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        if (!WaitFor(fd, POLLOUT))
            return false;
        const ssize_t sent = send(fd, data, size, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

// Waits until the client closes its end (or the wait runs out).
void WaitForClientClose(int fd) {
    char buffer[4096];
    while (WaitFor(fd, POLLIN)) {
        if (recv(fd, buffer, sizeof buffer, 0) <= 0)
            return;
    }
}

} // namespace

ScriptedServer::ScriptedServer(Mode mode, std::string answer, std::uint16_t port)
    : mode_(mode), answer_(std::move(answer)) {
    listener_ = Listen(port, &port_);
    if (listener_ < 0) {
        port_ = 0;
        return;
    }
    if (mode_ != Mode::Idle)
        thread_ = std::thread([this] { Serve(); });
}

ScriptedServer::~ScriptedServer() {
    Join();
    if (listener_ >= 0)
        close(listener_);
}

void ScriptedServer::Serve() {
    if (!WaitFor(listener_, POLLIN))
        return;
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return;
    accepted_ = true;
    if (mode_ != Mode::CloseAtOnce)
        ReadRequest(fd, request_);
    switch (mode_) {
    case Mode::Answer:
        SendAll(fd, answer_.data(), answer_.size());
        shutdown(fd, SHUT_WR);
        WaitForClientClose(fd);
        break;
    case Mode::Silent:
        WaitForClientClose(fd);
        break;
    case Mode::AnswerThenStream: {
        if (!SendAll(fd, answer_.data(), answer_.size()))
            break;
        const std::string filler(65536, 'x');
        while (streamed_ < kStreamLimit && SendAll(fd, filler.data(), filler.size()))
            streamed_ += filler.size();
        break;
    }
    default:
        break;
    }
    close(fd);
}

void ScriptedServer::Join() {
    if (!joined_ && thread_.joinable())
        thread_.join();
    joined_ = true;
}

std::string ScriptedServer::Request() {
    Join();
    return request_;
}

bool ScriptedServer::Accepted() {
    Join();
    return accepted_;
}

std::uint64_t ScriptedServer::StreamedBytes() {
    Join();
    return streamed_;
}

bool ScriptedServer::HasPendingConnection() const {
    pollfd p{listener_, POLLIN, 0};
    return poll(&p, 1, 0) == 1;
}

std::uint16_t ClosedPort() {
    std::uint16_t port = 0;
    const int fd = Listen(0, &port);
    if (fd >= 0)
        close(fd); // nothing listens there any more
    return port;
}

} // namespace pandel::test
