// A one-connection HTTP server on 127.0.0.1 for the report tests: it keeps the raw request and
// answers as the test scripts it. Every wait is bounded.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

namespace pandel::test {

class ScriptedServer {
public:
    enum class Mode {
        Idle,              // listen, never accept
        Answer,            // read the request, send the answer, close
        CloseAfterRequest, // read the request, close without a word
        CloseAtOnce,       // close right after accepting, reading nothing
        Silent,            // read the request, then say nothing until the client goes away
        AnswerThenStream,  // read the request, send the answer, then filler without end
    };

    // Binds a free port (or the given one); port() is 0 when that failed.
    explicit ScriptedServer(Mode mode, std::string answer = std::string(), std::uint16_t port = 0);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    std::uint16_t port() const { return port_; }

    // Waits for the connection to end, then reports it. The request holds every byte read.
    std::string Request();
    bool Accepted();
    // Bytes written after the answer in AnswerThenStream mode before the client gave up.
    std::uint64_t StreamedBytes();
    // Idle mode: true when a connection is waiting to be accepted right now.
    bool HasPendingConnection() const;

private:
    void Serve();
    void Join();

    Mode mode_;
    std::string answer_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
    bool joined_ = false;
    std::string request_;
    bool accepted_ = false;
    std::uint64_t streamed_ = 0;
};

// A loopback port on which nothing listens: connecting to it is refused at once.
std::uint16_t ClosedPort();

} // namespace pandel::test
