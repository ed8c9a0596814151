// The one scripted HTTP server on 127.0.0.1 for tests and benchmarks: it serves connection after
// connection, keeps every request's raw bytes, and answers, misbehaves or stays silent as the
// test scripts it. Every wait is bounded, and the destructor ends whatever a connection is doing.
#pragma once

#include "harness/loopback_socket.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pandel::test {

class LoopbackServer {
public:
    enum class Mode {
        Answer,            // read the request whole, send the answer, close
        CloseAtOnce,       // close right after accepting, reading nothing
        CloseAfterRequest, // read the request, close without a word
        CloseAfterBytes,   // read readBytes of the request, close
        Hang,              // read the request, then say nothing until the client goes
        NeverRead,         // read readBytes (0: nothing), then hold without reading
        Idle,              // listen, never accept
        AnswerThenStream,  // send the answer, then filler without end
        Trickle,           // read the request, send the answer one byte per interval
        EndlessHeaders,    // read the request, a status line, then a header line per interval
        EndlessContinue,   // read the request, then "100 Continue" per interval
        // Read the request whole, answer in one send and close without waiting for the client;
        // only the last request is kept, so that a loop of any length holds no growing state
        // and a request costs the server no more than it must (the benchmarks' baseline).
        AnswerQuickly,
    };

    struct Script {
        Mode mode = Mode::Answer;
        std::string answer = SetResponse(0);
        std::size_t readBytes = 0; // CloseAfterBytes, NeverRead
        int intervalMs = 10000;    // Trickle, EndlessHeaders, EndlessContinue
        int holdMs = 120000;       // the longest any one connection is held (AnswerQuickly:
                                   // the longest wait for more of a request)
    };

    // Listens on a free port of 127.0.0.1 and serves until destroyed. With a port given, port()
    // is 0 when that port cannot be had.
    explicit LoopbackServer(std::string answer = SetResponse(0), Mode mode = Mode::Answer);
    explicit LoopbackServer(Script script, std::uint16_t port = 0);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::uint16_t port() const { return port_; }
    std::string Url(const std::string& path = "/DeviceManager/DeviceConfig") const;

    // Raw requests (every byte read of each connection) so far, in order; empty in AnswerQuickly.
    std::vector<std::string> Requests();
    // The latest request kept (AnswerQuickly: the latest read whole); empty before the first.
    std::string LastRequest();
    // How many requests were kept (AnswerQuickly: read whole and answered) so far.
    std::uint64_t RequestCount() const { return kept_; }
    // The first connection's request once that connection has ended (at most holdMs).
    std::string Request();
    // Waits up to timeoutMs for at least n requests; returns how many arrived.
    std::size_t WaitForRequests(std::size_t n, int timeoutMs = 5000);
    std::size_t Accepted() const { return accepted_; }
    // Bytes of filler written after the answer (AnswerThenStream) before the client gave up.
    std::uint64_t StreamedBytes() const { return streamed_; }
    // Idle: true when a connection is waiting to be accepted right now.
    bool HasPendingConnection() const;
    // Ends a NeverRead hold; true when the server had already given up holding by itself.
    bool Release();

    void SetAnswer(std::string answer);

    // An HTTP 200 answer holding a SetResponse with the given r.
    static std::string SetResponse(std::int32_t r);
    // Wraps an envelope in an HTTP response with the given status line.
    static std::string HttpResponse(const std::string& body, const std::string& status = "200 OK");
    // A SetResponse whose element carries that many distinct attributes.
    static std::string ManyAttributesSetResponse(std::size_t attributes);

private:
    using Socket = loopback::Socket;

    void Serve();
    void Handle(Socket client);
    void AnswerQuickly(Socket client);
    bool Wait(Socket socket, bool forWriting, int timeoutMs) const;
    bool ReadRequest(Socket socket, std::string* request, std::size_t limit, int waitMs);
    bool SendAll(Socket socket, const char* data, std::size_t size);
    bool SendPaced(Socket socket, const std::string& piece, int intervalMs, int holdMs);
    void WaitForClientClose(Socket socket, int holdMs);

    Script script_;
    std::shared_ptr<const std::string> answer_; // script_.answer, swapped whole by SetAnswer
    Socket listener_ = loopback::kNoSocket;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> released_{false};
    std::atomic<bool> gaveUp_{false};
    std::atomic<std::size_t> accepted_{0};
    std::atomic<std::size_t> ended_{0};
    std::atomic<std::uint64_t> streamed_{0};
    std::atomic<std::uint64_t> kept_{0};
    std::mutex mutex_;
    std::vector<std::string> requests_;
    std::string last_; // AnswerQuickly
    std::thread thread_;
};

// A loopback port on which nothing listens: connecting to it is refused at once.
std::uint16_t ClosedPort();

// The text of element <name>...</name> (any prefix) in a raw request, with XML character
// references and the five predefined entities decoded; empty when absent.
std::string ElementText(const std::string& raw, const std::string& localName);

} // namespace pandel::test
