// Reading one HTTP/1.1 request from a socket, bounded in size and in time.
#include "tools/devcfg-server/http_request.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace devcfg {
namespace {

constexpr const char* kContinue = "HTTP/1.1 100 Continue\r\n\r\n";

class Reader {
public:
    Reader(int fd, int timeoutMs, std::string* raw) : fd_(fd), timeoutMs_(timeoutMs), raw_(raw) {}

    // Appends at least one more byte to raw; false at end of input, error or time-out.
    bool More() {
        char buffer[16384];
        pollfd p{fd_, POLLIN, 0};
        int ready = 0;
        do {
            ready = poll(&p, 1, timeoutMs_);
        } while (ready < 0 && errno == EINTR);
        if (ready != 1)
            return false;
        ssize_t got = 0;
        do {
            got = recv(fd_, buffer, sizeof buffer, 0);
        } while (got < 0 && errno == EINTR);
        if (got <= 0)
            return false;
        raw_->append(buffer, static_cast<std::size_t>(got));
        return true;
    }

    // Makes sure raw holds at least `size` bytes.
    bool Have(std::size_t size) {
        while (raw_->size() < size)
            if (!More())
                return false;
        return true;
    }

    // The position after the next CR LF at or after from; npos when none came within limit.
    std::size_t LineEnd(std::size_t from, std::size_t limit) {
        for (;;) {
            const std::size_t crlf = raw_->find("\r\n", from);
            if (crlf != std::string::npos)
                return crlf + 2;
            if (raw_->size() > limit || !More())
                return std::string::npos;
        }
    }

private:
    int fd_;
    int timeoutMs_;
    std::string* raw_;
};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool ParseSize(const std::string& text, int base, std::size_t* size) {
    if (text.empty() || !std::isxdigit(static_cast<unsigned char>(text[0])))
        return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), &end, base);
    if (errno != 0 || *end != '\0')
        return false;
    *size = value > kMaxBodyBytes ? kMaxBodyBytes + 1 : static_cast<std::size_t>(value);
    return true;
}

// De-chunks the body that starts at `at` in raw; false when it is malformed or too large.
ReadResult ReadChunked(Reader& reader, std::string& raw, std::size_t at, std::string* body) {
    for (;;) {
        const std::size_t lineEnd = reader.LineEnd(at, at + 1024);
        if (lineEnd == std::string::npos)
            return raw.size() > at + 1024 ? ReadResult::Malformed : ReadResult::Closed;
        std::string sizeText = raw.substr(at, lineEnd - 2 - at);
        sizeText = Trim(sizeText.substr(0, sizeText.find(';')));
        std::size_t size = 0;
        if (!ParseSize(sizeText, 16, &size))
            return ReadResult::Malformed;
        if (body->size() + size > kMaxBodyBytes)
            return ReadResult::TooLarge;
        at = lineEnd;
        if (size == 0)
            break;
        if (!reader.Have(at + size + 2))
            return ReadResult::Closed;
        if (raw.compare(at + size, 2, "\r\n") != 0)
            return ReadResult::Malformed;
        body->append(raw, at, size);
        at += size + 2;
    }
    // Trailer lines, up to the empty one.
    for (;;) {
        const std::size_t lineEnd = reader.LineEnd(at, at + kMaxHeadBytes);
        if (lineEnd == std::string::npos)
            return ReadResult::Closed;
        if (lineEnd == at + 2)
            return ReadResult::Ok;
        at = lineEnd;
    }
}

} // namespace

ReadResult ReadHttpRequest(int fd, int timeoutMs, HttpRequest* request) {
    *request = HttpRequest();
    std::string& raw = request->raw;
    Reader reader(fd, timeoutMs, &raw);

    std::size_t headEnd = std::string::npos;
    while ((headEnd = raw.find("\r\n\r\n")) == std::string::npos) {
        if (raw.size() > kMaxHeadBytes)
            return ReadResult::TooLarge;
        if (!reader.More())
            return ReadResult::Closed;
    }
    if (headEnd + 4 > kMaxHeadBytes)
        return ReadResult::TooLarge;

    bool chunked = false;
    bool expectContinue = false;
    bool haveLength = false;
    std::size_t length = 0;
    std::size_t lineStart = 0;
    while (lineStart < headEnd + 2) {
        const std::size_t lineEnd = raw.find("\r\n", lineStart) + 2;
        const std::string line = raw.substr(lineStart, lineEnd - 2 - lineStart);
        const std::size_t colon = line.find(':');
        const std::string name = lineStart == 0 || colon == std::string::npos
                                     ? std::string()
                                     : Lower(Trim(line.substr(0, colon)));
        const std::string value = colon == std::string::npos ? "" : Trim(line.substr(colon + 1));
        lineStart = lineEnd;
        if (name == "content-length") {
            if (haveLength || !ParseSize(value, 10, &length))
                return ReadResult::Malformed;
            if (length > kMaxBodyBytes)
                return ReadResult::TooLarge;
            haveLength = true;
            continue;
        }
        if (name == "transfer-encoding") {
            if (Lower(value) != "chunked")
                return ReadResult::Malformed;
            chunked = true;
            continue;
        }
        if (name == "expect") {
            expectContinue = Lower(value) == "100-continue";
            continue;
        }
        request->head += line + "\r\n";
    }
    if (chunked && haveLength)
        return ReadResult::Malformed;

    const std::size_t bodyStart = headEnd + 4;
    if (expectContinue && raw.size() == bodyStart) {
        const ssize_t ignored =
            send(fd, kContinue, std::char_traits<char>::length(kContinue), MSG_NOSIGNAL);
        (void)ignored;
    }
    if (chunked)
        return ReadChunked(reader, raw, bodyStart, &request->body);
    if (!reader.Have(bodyStart + length))
        return ReadResult::Closed;
    request->body = raw.substr(bodyStart, length);
    return ReadResult::Ok;
}

std::string ReplayBytes(const HttpRequest& request) {
    return request.head + "Content-Length: " + std::to_string(request.body.size()) + "\r\n\r\n" +
           request.body;
}

} // namespace devcfg
