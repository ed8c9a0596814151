// A server on 127.0.0.1 that reads each request whole (headers and Content-Length body) and
// answers it at once with one fixed SetResponse, then closes. Keeps only the last request, so a
// loop of any length holds no growing state.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace pandel::bench {

class AnsweringServer {
public:
    AnsweringServer();
    ~AnsweringServer();
    AnsweringServer(const AnsweringServer&) = delete;
    AnsweringServer& operator=(const AnsweringServer&) = delete;

    std::uint16_t port() const { return port_; }
    // http://127.0.0.1:PORT/DeviceManager/DeviceConfig
    std::string Url() const;
    std::uint64_t requests() const { return requests_.load(); }
    std::string LastRequest();

    // The answer's exact bytes: HTTP 200 with a SetResponse holding r = 0.
    static const std::string& Answer();

private:
    void Serve();
    void Handle(int client);

    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<std::uint64_t> requests_{0};
    std::mutex mutex_;
    std::string last_;
    std::thread thread_;
};

} // namespace pandel::bench
