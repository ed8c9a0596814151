// One HTTP request read whole from a client connection, before the SOAP runtime sees any of it,
// so that the envelope can be checked as a document first.
#pragma once

#include <cstddef>
#include <string>

namespace devcfg {

// Bounds on what one request may hold; a client beyond them is answered 413 or dropped.
constexpr std::size_t kMaxHeadBytes = 64 * 1024;
constexpr std::size_t kMaxBodyBytes = 16 * 1024 * 1024;

struct HttpRequest {
    std::string raw;  // every byte read from the connection, as it came
    std::string head; // request line and header lines, each ending in CR LF, without the
                      // empty line; Content-Length, Transfer-Encoding and Expect removed
    std::string body; // the entity, de-chunked
};

enum class ReadResult { Ok, Closed, TooLarge, Malformed };

// Reads one request from fd: the head up to its empty line, then the body by Content-Length or
// chunked transfer coding (no body without either). Answers "100 Continue" when the client waits
// for it. Each wait for data lasts at most timeoutMs.
ReadResult ReadHttpRequest(int fd, int timeoutMs, HttpRequest* request);

// The request as the SOAP runtime is to read it: head, the body's Content-Length, body.
std::string ReplayBytes(const HttpRequest& request);

} // namespace devcfg
