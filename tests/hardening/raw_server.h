// A one-connection server on 127.0.0.1 that misbehaves in ways the scripted servers do not: it
// reads only so much of the request, then closes or holds the connection without reading more.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <thread>

namespace pandel::test {

class RawServer {
public:
    enum class After { Close, HoldWithoutReading };

    // Reads readBytes of the request, then closes, or holds the connection without reading until
    // Release (at most holdMs). A small receive buffer makes a client that keeps sending block
    // soon.
    RawServer(std::size_t readBytes, After after, int holdMs = 40000)
        : readBytes_(readBytes), after_(after), holdMs_(holdMs) {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int small = 4096;
        setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(listener_, 4) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("bind/listen");
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~RawServer() {
        if (thread_.joinable())
            thread_.join();
        close(listener_);
    }
    RawServer(const RawServer&) = delete;
    RawServer& operator=(const RawServer&) = delete;

    std::uint16_t port() const { return port_; }
    // Ends the hold; true when the server had already stopped holding by itself.
    bool Release() {
        released_ = true;
        if (thread_.joinable())
            thread_.join();
        return gaveUp_;
    }
    // Joins the server; what it read of the request.
    std::size_t BytesRead() {
        if (thread_.joinable())
            thread_.join();
        return read_;
    }

private:
    void Serve() {
        pollfd waitAccept{listener_, POLLIN, 0};
        if (poll(&waitAccept, 1, 30000) != 1)
            return;
        const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            return;
        char buffer[4096];
        while (read_ < readBytes_) {
            pollfd p{client, POLLIN, 0};
            if (poll(&p, 1, 10000) != 1)
                break;
            const std::size_t want = std::min(sizeof buffer, readBytes_ - read_);
            const ssize_t n = recv(client, buffer, want, 0);
            if (n <= 0)
                break;
            read_ += static_cast<std::size_t>(n);
        }
        if (after_ == After::HoldWithoutReading) {
            // Until the test lets go; the client's close may never show, its FIN queued behind
            // the data this side does not read.
            int waited = 0;
            while (!released_ && waited < holdMs_) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                waited += 50;
            }
            gaveUp_ = !released_;
        }
        close(client);
    }

    std::size_t readBytes_;
    After after_;
    int holdMs_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::size_t read_ = 0;
    std::atomic<bool> released_{false};
    bool gaveUp_ = false;
    std::thread thread_;
};

} // namespace pandel::test
