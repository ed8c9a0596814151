// A scripted HTTP server on 127.0.0.1 for tests: records every request's raw bytes and answers
// each with the bytes the test chose.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pandel::test {

class LoopbackServer {
public:
    // How to answer a request once it has been read whole (headers and Content-Length body).
    enum class Mode { Answer, CloseWithoutAnswer, Hang };

    // Listens on a free port of 127.0.0.1 and serves until destroyed.
    explicit LoopbackServer(std::string response = SetResponse(0), Mode mode = Mode::Answer);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::uint16_t port() const { return port_; }
    std::string Url(const std::string& path = "/DeviceManager/DeviceConfig") const;

    // Raw requests received so far, in order.
    std::vector<std::string> Requests();
    // Waits up to timeoutMs for at least n requests; returns how many arrived.
    std::size_t WaitForRequests(std::size_t n, int timeoutMs = 5000);

    void SetAnswer(std::string response);

    // An HTTP 200 answer holding a SetResponse with the given r.
    static std::string SetResponse(std::int32_t r);
    // Wraps an envelope in an HTTP response with the given status line.
    static std::string HttpResponse(const std::string& body, const std::string& status = "200 OK");

private:
    void Serve();
    void Handle(int client);

    int listener_ = -1;
    std::uint16_t port_ = 0;
    Mode mode_;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::string response_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

// The text of element <name>...</name> (any prefix) in a raw request, with XML character
// references and the five predefined entities decoded; empty when absent.
std::string ElementText(const std::string& raw, const std::string& localName);

} // namespace pandel::test
