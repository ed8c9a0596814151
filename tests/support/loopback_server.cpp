// The scripted loopback HTTP server for tests.
#include "tests/support/loopback_server.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace pandel::test {
namespace {

// Reads one whole request: headers, then as many body bytes as Content-Length says.
std::string ReadRequest(int fd) {
    std::string data;
    char chunk[65536];
    std::size_t expected = std::string::npos;
    for (;;) {
        if (expected != std::string::npos && data.size() >= expected)
            return data;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 10000) <= 0)
            return data;
        ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return data;
        data.append(chunk, static_cast<std::size_t>(n));
        std::size_t end = data.find("\r\n\r\n");
        if (expected == std::string::npos && end != std::string::npos) {
            std::size_t length = 0;
            std::size_t at = data.find("Content-Length: ");
            if (at != std::string::npos && at < end)
                length = std::stoul(data.substr(at + 16));
            expected = end + 4 + length;
        }
    }
}

void SendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += static_cast<std::size_t>(n);
    }
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

LoopbackServer::LoopbackServer(std::string response, Mode mode)
    : mode_(mode), response_(std::move(response)) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0)
        throw std::runtime_error("socket");
    int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 64) != 0)
        throw std::runtime_error("bind/listen");
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

LoopbackServer::~LoopbackServer() {
    stopping_ = true;
    shutdown(listener_, SHUT_RDWR);
    thread_.join();
    close(listener_);
}

std::string LoopbackServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void LoopbackServer::Serve() {
    while (!stopping_) {
        pollfd p{listener_, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        Handle(client);
        close(client);
    }
}

void LoopbackServer::Handle(int client) {
    std::string request = ReadRequest(client);
    std::string answer;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        requests_.push_back(request);
        answer = response_;
    }
    if (mode_ == Mode::Answer)
        SendAll(client, answer);
    if (mode_ == Mode::Hang) {
        while (!stopping_) {
            pollfd p{client, POLLIN, 0};
            if (poll(&p, 1, 100) > 0) {
                char c;
                if (recv(client, &c, 1, 0) <= 0)
                    return;
            }
        }
    }
}

std::vector<std::string> LoopbackServer::Requests() {
    std::lock_guard<std::mutex> hold(mutex_);
    return requests_;
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

void LoopbackServer::SetAnswer(std::string response) {
    std::lock_guard<std::mutex> hold(mutex_);
    response_ = std::move(response);
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
