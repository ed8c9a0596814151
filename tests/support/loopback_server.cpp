// The scripted loopback HTTP server for tests: POSIX sockets, bounded waits.
#include "tests/support/loopback_server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace pandel::test {
namespace {

constexpr int kSliceMs = 100;                        // how often a wait looks at stopping_
constexpr int kSendWaitMs = 30000;                   // the longest wait for the client to read
constexpr std::uint64_t kStreamLimit = 256ull << 20; // filler stops here in any case
constexpr std::size_t kRequestLimit = 16u << 20;     // a request is never bigger in tests
constexpr int kSmallReceiveBuffer = 4096;            // a client that keeps sending blocks soon

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

bool Reads(LoopbackServer::Mode mode) {
    return mode != LoopbackServer::Mode::CloseAtOnce && mode != LoopbackServer::Mode::Idle;
}

std::string DecodeText(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&') {
            out += text[i];
            continue;
        }
        std::size_t semi = text.find(';', i);
        if (semi == std::string::npos) {
            out += text[i];
            continue;
        }
        std::string ref = text.substr(i + 1, semi - i - 1);
        if (ref == "amp")
            out += '&';
        else if (ref == "lt")
            out += '<';
        else if (ref == "gt")
            out += '>';
        else if (ref == "quot")
            out += '"';
        else if (ref == "apos")
            out += '\'';
        else if (ref.size() > 2 && ref[0] == '#' && ref[1] == 'x')
            out += static_cast<char>(std::stoul(ref.substr(2), nullptr, 16));
        else if (ref.size() > 1 && ref[0] == '#')
            out += static_cast<char>(std::stoul(ref.substr(1)));
        else
            out += "&" + ref + ";";
        i = semi;
    }
    return out;
}

} // namespace

LoopbackServer::LoopbackServer(std::string answer, Mode mode)
    : LoopbackServer(Script{mode, std::move(answer)}) {}

LoopbackServer::LoopbackServer(Script script, std::uint16_t port) : script_(std::move(script)) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0)
        throw std::runtime_error("socket");
    int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (script_.mode == Mode::NeverRead || script_.mode == Mode::CloseAfterBytes)
        setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &kSmallReceiveBuffer,
                   sizeof kSmallReceiveBuffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 64) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(listener_);
        listener_ = -1;
        if (port != 0)
            return; // port() stays 0: that port cannot be had here
        throw std::runtime_error("bind/listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    if (script_.mode != Mode::Idle)
        thread_ = std::thread([this] { Serve(); });
}

LoopbackServer::~LoopbackServer() {
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listener_ >= 0)
        close(listener_);
}

std::string LoopbackServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

bool LoopbackServer::Wait(int fd, short events, int timeoutMs) const {
    for (int waited = 0; waited < timeoutMs && !stopping_; waited += kSliceMs) {
        pollfd p{fd, events, 0};
        const int ready = poll(&p, 1, std::min(kSliceMs, timeoutMs - waited));
        if (ready != 0)
            return ready == 1;
    }
    return false;
}

void LoopbackServer::Serve() {
    while (!stopping_) {
        if (!Wait(listener_, POLLIN, kSliceMs))
            continue;
        const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        ++accepted_;
        Handle(client);
        close(client);
        ++ended_;
    }
}

void LoopbackServer::ReadRequest(int fd, std::string* request, std::size_t limit) {
    char buffer[65536];
    while (!RequestComplete(*request) && request->size() < limit &&
           Wait(fd, POLLIN, script_.holdMs)) {
        const std::size_t want = std::min(sizeof buffer, limit - request->size());
        const ssize_t got = recv(fd, buffer, want, 0);
        if (got <= 0)
            return;
        request->append(buffer, static_cast<std::size_t>(got));
    }
}

bool LoopbackServer::SendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        if (!Wait(fd, POLLOUT, kSendWaitMs))
            return false;
        const ssize_t sent = send(fd, data, size, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

// Sends piece, then waits intervalMs; false once the client has gone (or the hold is over).
bool LoopbackServer::SendPaced(int fd, const std::string& piece, int intervalMs, int holdMs) {
    if (!SendAll(fd, piece.data(), piece.size()))
        return false;
    if (Wait(fd, POLLIN, std::min(intervalMs, holdMs))) {
        char c;
        if (recv(fd, &c, 1, MSG_PEEK) <= 0)
            return false;
    }
    return !stopping_;
}

// Reads until the client closes its end (or the hold is over).
void LoopbackServer::WaitForClientClose(int fd, int holdMs) {
    char buffer[4096];
    while (Wait(fd, POLLIN, holdMs)) {
        if (recv(fd, buffer, sizeof buffer, 0) <= 0)
            return;
    }
}

void LoopbackServer::Handle(int client) {
    const Script& script = script_;
    std::string request;
    if (Reads(script.mode)) {
        const bool partial = script.mode == Mode::CloseAfterBytes || script.mode == Mode::NeverRead;
        ReadRequest(client, &request, partial ? script.readBytes : kRequestLimit);
    }
    std::string answer;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        requests_.push_back(request);
        answer = script.answer;
    }
    const auto start = std::chrono::steady_clock::now();
    const auto heldMs = [&start] {
        return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::steady_clock::now() - start)
                                    .count());
    };
    switch (script.mode) {
    case Mode::Answer:
        SendAll(client, answer.data(), answer.size());
        shutdown(client, SHUT_WR);
        WaitForClientClose(client, script.holdMs);
        break;
    case Mode::Hang:
        WaitForClientClose(client, script.holdMs);
        break;
    case Mode::NeverRead:
        // Until the test lets go; the client's close may never show, its FIN queued behind the
        // data this side does not read.
        while (!released_ && !stopping_ && heldMs() < script.holdMs)
            std::this_thread::sleep_for(std::chrono::milliseconds(kSliceMs / 2));
        gaveUp_ = !released_ && !stopping_;
        break;
    case Mode::AnswerThenStream: {
        if (!SendAll(client, answer.data(), answer.size()))
            break;
        const std::string filler(65536, 'x');
        while (streamed_ < kStreamLimit && SendAll(client, filler.data(), filler.size()))
            streamed_ += filler.size();
        break;
    }
    case Mode::Trickle:
        for (std::size_t i = 0; i < answer.size() && heldMs() < script.holdMs; ++i) {
            if (!SendPaced(client, answer.substr(i, 1), script.intervalMs, script.holdMs))
                break;
        }
        break;
    case Mode::EndlessHeaders:
        if (!SendAll(client, "HTTP/1.1 200 OK\r\n", 17))
            break;
        for (int line = 0; heldMs() < script.holdMs; ++line) {
            if (!SendPaced(client, "X-Line: " + std::to_string(line) + "\r\n", script.intervalMs,
                           script.holdMs))
                break;
        }
        break;
    case Mode::EndlessContinue:
        while (heldMs() < script.holdMs) {
            if (!SendPaced(client, "HTTP/1.1 100 Continue\r\n\r\n", script.intervalMs,
                           script.holdMs))
                break;
        }
        break;
    default:
        break;
    }
}

std::vector<std::string> LoopbackServer::Requests() {
    std::lock_guard<std::mutex> hold(mutex_);
    return requests_;
}

std::string LoopbackServer::Request() {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(script_.holdMs + 5000);
    while (ended_ == 0 && accepted_ > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const std::vector<std::string> requests = Requests();
    return requests.empty() ? std::string() : requests.front();
}

std::size_t LoopbackServer::WaitForRequests(std::size_t n, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        std::size_t have = Requests().size();
        if (have >= n || std::chrono::steady_clock::now() >= deadline)
            return have;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool LoopbackServer::HasPendingConnection() const {
    pollfd p{listener_, POLLIN, 0};
    return poll(&p, 1, 0) == 1;
}

bool LoopbackServer::Release() {
    released_ = true;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(script_.holdMs + 5000);
    while (ended_ < accepted_ && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return gaveUp_;
}

void LoopbackServer::SetAnswer(std::string answer) {
    std::lock_guard<std::mutex> hold(mutex_);
    script_.answer = std::move(answer);
}

std::string LoopbackServer::HttpResponse(const std::string& body, const std::string& status) {
    return "HTTP/1.1 " + status + "\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

std::string LoopbackServer::SetResponse(std::int32_t r) {
    return HttpResponse("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                        "<SOAP-ENV:Envelope "
                        "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\">"
                        "<SOAP-ENV:Body><SetResponse xmlns=\"urn:pandel:device-config\"><r>" +
                        std::to_string(r) +
                        "</r></SetResponse></SOAP-ENV:Body></SOAP-ENV:Envelope>");
}

std::string LoopbackServer::ManyAttributesSetResponse(std::size_t attributes) {
    std::string element = "<SetResponse xmlns=\"urn:pandel:device-config\"";
    for (std::size_t i = 0; i < attributes; ++i)
        element += " a" + std::to_string(i) + "=\"\"";
    return HttpResponse("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                        "<SOAP-ENV:Envelope "
                        "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\">"
                        "<SOAP-ENV:Body>" +
                        element + "><r>0</r></SetResponse></SOAP-ENV:Body></SOAP-ENV:Envelope>");
}

std::uint16_t ClosedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    std::uint16_t port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(fd); // nothing listens there any more
    return port;
}

std::string ElementText(const std::string& raw, const std::string& localName) {
    for (std::size_t at = raw.find('<'); at != std::string::npos; at = raw.find('<', at + 1)) {
        std::size_t nameEnd = raw.find_first_of(" >/", at + 1);
        if (nameEnd == std::string::npos)
            return {};
        std::string name = raw.substr(at + 1, nameEnd - at - 1);
        std::size_t colon = name.find(':');
        std::string local = colon == std::string::npos ? name : name.substr(colon + 1);
        if (local != localName)
            continue;
        std::size_t open = raw.find('>', at);
        if (open == std::string::npos || raw[open - 1] == '/')
            return {};
        std::size_t close = raw.find("</" + name + ">", open);
        if (close == std::string::npos)
            return {};
        return DecodeText(raw.substr(open + 1, close - open - 1));
    }
    return {};
}

} // namespace pandel::test
