// The answering server: blocking accept loop on its own thread, one connection at a time.
#include "bench/answering_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace pandel::bench {
namespace {

constexpr std::size_t kMaxRequestBytes = 4u << 20;
constexpr int kPollMs = 100;
constexpr int kClientWaitMs = 5000; // a stalled client cannot hold the server for ever

std::size_t ContentLength(const std::string& head) {
    static constexpr char kKey[] = "\r\nContent-Length: ";
    std::size_t at = head.find(kKey);
    if (at == std::string::npos)
        return 0;
    return std::strtoul(head.c_str() + at + sizeof kKey - 1, nullptr, 10);
}

bool WaitReadable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, ms) > 0;
}

} // namespace

const std::string& AnsweringServer::Answer() {
    static const std::string answer = [] {
        std::string body =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><SOAP-ENV:Envelope "
            "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
            "xmlns:soap=\"urn:pandel:device-config\"><SOAP-ENV:Body><soap:SetResponse><soap:r>0"
            "</soap:r></soap:SetResponse></SOAP-ENV:Body></SOAP-ENV:Envelope>";
        return "HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    }();
    return answer;
}

AnsweringServer::AnsweringServer() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0)
        throw std::runtime_error("socket");
    int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 64) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("bind");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

AnsweringServer::~AnsweringServer() {
    stopping_ = true;
    thread_.join();
    close(listener_);
}

std::string AnsweringServer::Url() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/DeviceManager/DeviceConfig";
}

std::string AnsweringServer::LastRequest() {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_;
}

void AnsweringServer::Serve() {
    while (!stopping_) {
        if (!WaitReadable(listener_, kPollMs))
            continue;
        int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        Handle(client);
        close(client);
    }
}

void AnsweringServer::Handle(int client) {
    std::string request;
    char chunk[65536];
    std::size_t needed = std::string::npos;
    while (request.size() < needed && request.size() < kMaxRequestBytes) {
        if (!WaitReadable(client, kClientWaitMs))
            return;
        ssize_t n = recv(client, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        request.append(chunk, static_cast<std::size_t>(n));
        std::size_t end = request.find("\r\n\r\n");
        if (needed == std::string::npos && end != std::string::npos)
            needed = end + 4 + ContentLength(request.substr(0, end + 2));
    }
    // Kept and counted before the answer leaves: the client's call may return the moment it
    // arrives.
    {
        std::lock_guard<std::mutex> lock(mutex_);
        last_.swap(request);
    }
    ++requests_;
    const std::string& answer = Answer();
    send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
    shutdown(client, SHUT_WR);
}

} // namespace pandel::bench
