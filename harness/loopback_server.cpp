// The scripted loopback HTTP server: the logic, over the system's socket calls
// (loopback_socket.h), with bounded waits.
#include "harness/loopback_server.h"

#include "harness/http_framing.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace pandel::test {
namespace {

namespace net = loopback;

constexpr int kSliceMs = 100;                        // how often a wait looks at stopping_
constexpr int kSendWaitMs = 30000;                   // the longest wait for the client to read
constexpr std::uint64_t kStreamLimit = 256ull << 20; // filler stops here in any case
constexpr std::size_t kRequestLimit = 16u << 20;     // a request is never bigger in tests
constexpr int kSmallReceiveBuffer = 4096;            // a client that keeps sending blocks soon
constexpr int kBacklog = 64;

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

LoopbackServer::LoopbackServer(Script script, std::uint16_t port)
    : script_(std::move(script)), answer_(std::make_shared<const std::string>(script_.answer)) {
    const bool smallBuffer =
        script_.mode == Mode::NeverRead || script_.mode == Mode::CloseAfterBytes;
    std::uint16_t bound = 0;
    listener_ = net::Listen(port, kBacklog, smallBuffer ? kSmallReceiveBuffer : 0, &bound);
    if (listener_ == net::kNoSocket) {
        if (port != 0)
            return; // port() stays 0: that port cannot be had here
        throw std::runtime_error("bind/listen on 127.0.0.1");
    }
    port_ = bound;
    if (script_.mode != Mode::Idle)
        thread_ = std::thread([this] { Serve(); });
}

LoopbackServer::~LoopbackServer() {
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listener_ != net::kNoSocket)
        net::Close(listener_);
}

std::string LoopbackServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

bool LoopbackServer::Wait(Socket socket, bool forWriting, int timeoutMs) const {
    for (int waited = 0; waited < timeoutMs && !stopping_; waited += kSliceMs) {
        const int ready = net::Wait(socket, forWriting, std::min(kSliceMs, timeoutMs - waited));
        if (ready != 0)
            return ready == 1;
    }
    return false;
}

void LoopbackServer::Serve() {
    while (!stopping_) {
        if (!Wait(listener_, false, kSliceMs))
            continue;
        const Socket client = net::Accept(listener_);
        if (client == net::kNoSocket)
            continue;
        ++accepted_;
        if (script_.mode == Mode::AnswerQuickly)
            AnswerQuickly(client);
        else
            Handle(client);
        net::Close(client);
        ++ended_;
    }
}

// Reads until the request is whole (its head and Content-Length bytes of body) or limit bytes
// have come; false when the client closed, failed or went quiet for waitMs before that.
bool LoopbackServer::ReadRequest(Socket socket, std::string* request, std::size_t limit,
                                 int waitMs) {
    char buffer[65536];
    std::size_t whole = std::string::npos;
    while (request->size() < std::min(whole, limit)) {
        if (!Wait(socket, false, waitMs))
            return false;
        const std::size_t want = std::min(sizeof buffer, limit - request->size());
        const long got = net::Receive(socket, buffer, want);
        if (got <= 0)
            return false;
        request->append(buffer, static_cast<std::size_t>(got));
        if (whole == std::string::npos)
            whole = MessageSize(*request);
    }
    return true;
}

bool LoopbackServer::SendAll(Socket socket, const char* data, std::size_t size) {
    while (size > 0) {
        if (!Wait(socket, true, kSendWaitMs))
            return false;
        const long sent = net::Send(socket, data, size);
        if (sent <= 0)
            return false;
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

// Sends piece, then waits intervalMs; false once the client has gone (or the hold is over).
bool LoopbackServer::SendPaced(Socket socket, const std::string& piece, int intervalMs,
                               int holdMs) {
    if (!SendAll(socket, piece.data(), piece.size()))
        return false;
    if (Wait(socket, false, std::min(intervalMs, holdMs))) {
        char c;
        if (net::Receive(socket, &c, 1, true) <= 0)
            return false;
    }
    return !stopping_;
}

// Reads until the client closes its end (or the hold is over).
void LoopbackServer::WaitForClientClose(Socket socket, int holdMs) {
    char buffer[4096];
    while (Wait(socket, false, holdMs)) {
        if (net::Receive(socket, buffer, sizeof buffer) <= 0)
            return;
    }
}

void LoopbackServer::AnswerQuickly(Socket client) {
    std::string request;
    if (!ReadRequest(client, &request, kRequestLimit, script_.holdMs))
        return;
    std::shared_ptr<const std::string> answer;
    // Kept and counted before the answer leaves: the client's call may return the moment it
    // arrives.
    {
        std::lock_guard<std::mutex> hold(mutex_);
        last_.swap(request);
        answer = answer_;
    }
    ++kept_;
    net::Send(client, answer->data(), answer->size());
    net::ShutdownSending(client);
}

void LoopbackServer::Handle(Socket client) {
    const Script& script = script_;
    std::string request;
    if (Reads(script.mode)) {
        const bool partial = script.mode == Mode::CloseAfterBytes || script.mode == Mode::NeverRead;
        ReadRequest(client, &request, partial ? script.readBytes : kRequestLimit, script.holdMs);
    }
    std::string answer;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        requests_.push_back(request);
        answer = *answer_;
    }
    ++kept_;
    const auto start = std::chrono::steady_clock::now();
    const auto heldMs = [&start] {
        return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::steady_clock::now() - start)
                                    .count());
    };
    switch (script.mode) {
    case Mode::Answer:
        SendAll(client, answer.data(), answer.size());
        net::ShutdownSending(client);
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

std::string LoopbackServer::LastRequest() {
    std::lock_guard<std::mutex> hold(mutex_);
    if (script_.mode == Mode::AnswerQuickly || requests_.empty())
        return last_;
    return requests_.back();
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
    return net::Wait(listener_, false, 0) == 1;
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
    auto shared = std::make_shared<const std::string>(std::move(answer));
    std::lock_guard<std::mutex> hold(mutex_);
    answer_ = std::move(shared);
}

std::string LoopbackServer::HttpResponse(const std::string& body, const std::string& status) {
    return XmlResponse(status, body);
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
    return net::ClosedPort();
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
