// What the report tests build by hand, independently of the code under test: the exact request
// bytes, response messages, and the process's standard streams caught in files.
#pragma once

#include <cstdint>
#include <string>

namespace pandel::test {

// http://127.0.0.1:<port>/App/Ep
std::string LoopbackUrl(std::uint16_t port);

// The whole HTTP request of one Set, written out literally. host is the Host line's value;
// xIn the escaped report bytes.
std::string ExpectedSetRequest(const std::string& host, const std::string& path,
                               const std::string& messageId, const std::string& from,
                               const std::string& serviceUrl, const std::string& xIn);

// An HTTP response with Content-Length and the given status and body.
std::string HttpResponse(int status, const std::string& body);

// A SOAP 1.1 envelope (prefix SOAP-ENV, service namespace bound to "s", both WS-Addressing
// namespaces bound) around the given header content (no Header element when empty) and body.
std::string Soap11(const std::string& body, const std::string& headerContent = std::string());

// A SOAP 1.2 envelope (prefix "env", service namespace bound to "s").
std::string Soap12(const std::string& body, const std::string& headerContent = std::string());

// Redirects file descriptors 1 and 2 into files while it lives; what was written is read back.
class CapturedOutput {
public:
    CapturedOutput();
    ~CapturedOutput();
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;

    // Stops capturing (once) and returns what went to each stream.
    std::string Stdout();
    std::string Stderr();
    // Stops capturing (once) without flushing stdio first, and returns what reached descriptor
    // 1: text the code under test left in stdout's buffer does not count.
    std::string StdoutAsWritten();

private:
    void Stop(bool flushFirst = true);
    int savedOut_ = -1;
    int savedErr_ = -1;
    std::string outPath_;
    std::string errPath_;
    bool stopped_ = false;
    std::string asWritten_;
};

} // namespace pandel::test
