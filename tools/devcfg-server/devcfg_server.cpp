// devcfg-server: the device-configuration service on 127.0.0.1 for development and tests. Prints
// every Set it receives and answers as told: r, a Fault, silence, an early close or garbage. A
// request that is not a SOAP 1.1 envelope holding one Set or Get with a qualified xIn is answered
// with a Client fault.
#include "report/soap_runtime.h"
#include "tools/common/tool_options.h"
#include "tools/devcfg-server/envelope_check.h"
#include "tools/devcfg-server/http_request.h"
#include "tools/devcfg-server/request_record.h"

// The envelope code first: the server side's header turns off the global declarations.
#include <pandel_devcfg_envelopeH.h>

#include <pandel_devcfg_serverH.h>
// The server side's namespace table, pandel_devcfg_server_namespaces, defined here once.
#include <pandel_devcfg_server.nsmap>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

enum class Answer { Response, Fault, Hang, CloseEarly, Garbage };

struct Options {
    int port = 8080;
    int r = 0;
    Answer answer = Answer::Response;
    bool serverFault = false; // with Answer::Fault: SOAP-ENV:Server instead of SOAP-ENV:Client
    long count = 0;           // 0: serve until killed
    std::string rawFile;
    bool json = false;
};

constexpr int kBacklog = 16;
constexpr int kClientTimeoutSeconds = 30; // a stuck client does not stop the server for longer
constexpr const char* kGarbage =
    "HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: 27\r\n"
    "Connection: close\r\n\r\nthis is no SOAP envelope!\r\n";

Options options;
long requestNumber = 0;
std::vector<int> hungConnections; // held open, never answered, until the server exits
std::FILE* rawOut = nullptr;
std::string requestTime;
// The request being served, as the runtime reads it: it was read whole before.
std::string replay;
std::size_t replayAt = 0;

const pandel::tools::ToolUsage kUsage = {
    "devcfg-server",
    "devcfg-server [--port N] [--r N] [--fault client|server] [--hang]\n"
    "                     [--close-early] [--garbage] [--count N] [--raw FILE] [--json]\n",
    "\nThe device-configuration service on 127.0.0.1: prints every Set and Get it receives\n"
    "(header fields and the decoded report) and answers as told.\n"
    "  --port N           listen on port N, 0 to 65535 (default 8080; 0: a free port, printed)\n"
    "  --r N              the r of every SetResponse, a 32-bit number (default 0)\n"
    "  --fault KIND       answer a SOAP Fault: client (SOAP-ENV:Client) or server\n"
    "  --hang             read the request and never answer\n"
    "  --close-early      read the request and close without answering\n"
    "  --garbage          answer HTTP 200 with a body that is no SOAP envelope\n"
    "  --count N          exit after N requests, N at least 1 (default: serve until killed)\n"
    "  --raw FILE         append every byte received to FILE\n"
    "  --json             print one JSON object per request instead of a block\n"
    "  --help, --version  this text; the version\n"
    "Exit status: 0 done, 1 cannot listen or open FILE, 2 wrong usage.\n"};

Options ParseOptions(int argc, char** argv) {
    using pandel::tools::NumberOption;
    Options parsed;
    const auto answer = [&](Answer kind) {
        return [&parsed, kind](const char*) { parsed.answer = kind; };
    };
    pandel::tools::ReadOnlyOptions(
        kUsage, argc, argv,
        {{"port", true,
          [&](const char* value) {
              parsed.port = static_cast<int>(NumberOption(kUsage, "--port", value, 0, 65535));
          }},
         {"r", true,
          [&](const char* value) {
              parsed.r = static_cast<int>(NumberOption(kUsage, "--r", value, INT32_MIN, INT32_MAX));
          }},
         {"count", true,
          [&](const char* value) {
              parsed.count = NumberOption(kUsage, "--count", value, 1, LONG_MAX);
          }},
         {"fault", true,
          [&](const char* value) {
              const std::string kind = value;
              if (kind != "client" && kind != "server")
                  pandel::tools::UsageError(kUsage,
                                            "--fault takes client or server, not '" + kind + "'");
              parsed.answer = Answer::Fault;
              parsed.serverFault = kind == "server";
          }},
         {"hang", false, answer(Answer::Hang)},
         {"close-early", false, answer(Answer::CloseEarly)},
         {"garbage", false, answer(Answer::Garbage)},
         {"raw", true, [&](const char* value) { parsed.rawFile = value; }},
         {"json", false, [&](const char*) { parsed.json = true; }}});
    return parsed;
}

size_t ReceiveReplay(struct soap*, char* buffer, size_t size) {
    const size_t count = std::min(size, replay.size() - replayAt);
    std::memcpy(buffer, replay.data() + replayAt, count);
    replayAt += count;
    return count;
}

void Print(const devcfg::RequestRecord& record) {
    const std::string text = options.json ? devcfg::JsonLine(record) : devcfg::TextBlock(record);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void PrintRequest(struct soap* soap, const char* operation, const PandelReportText& text) {
    const SOAP_ENV__Header* header = soap->header;
    devcfg::RequestRecord record;
    record.number = requestNumber;
    record.time = requestTime;
    record.operation = operation;
    if (header != nullptr) {
        record.messageId = header->wsa__MessageID;
        record.from = header->wsa__From != nullptr ? header->wsa__From->Address : nullptr;
        record.to = header->wsa__To;
        record.action = header->wsa__Action;
    }
    record.report = text.units != nullptr ? text.units : u"";
    Print(record);
}

// A SOAP 1.1 Client fault with HTTP status 500 for a request the service cannot take.
void RefuseRequest(struct soap* soap, const std::string& why) {
    devcfg::RequestRecord record;
    record.number = requestNumber;
    record.time = requestTime;
    record.fault = why;
    Print(record);
    soap->version = 1;
    soap->header = nullptr;
    soap_sender_fault(soap, why.c_str(), nullptr);
    soap_send_fault(soap);
}

void AnswerStatus(int fd, const char* status) {
    const std::string answer =
        std::string("HTTP/1.1 ") + status + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    const ssize_t ignored = send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
    (void)ignored;
}

// Reads the request on the accepted connection whole, checks it, and has it served.
void ServeConnection(struct soap* soap) {
    devcfg::HttpRequest request;
    const devcfg::ReadResult read =
        devcfg::ReadHttpRequest(soap->socket, kClientTimeoutSeconds * 1000, &request);
    requestTime = devcfg::UtcTimeNow();
    if (rawOut != nullptr && !request.raw.empty()) {
        std::fwrite(request.raw.data(), 1, request.raw.size(), rawOut);
        std::fflush(rawOut);
    }
    switch (read) {
    case devcfg::ReadResult::Ok:
        break;
    case devcfg::ReadResult::TooLarge:
        AnswerStatus(soap->socket, "413 Payload Too Large");
        return;
    case devcfg::ReadResult::Malformed:
        AnswerStatus(soap->socket, "400 Bad Request");
        return;
    case devcfg::ReadResult::Closed:
        return;
    }
    soap_begin(soap);
    const std::string why = devcfg::CheckEnvelope(request.body);
    if (!why.empty()) {
        RefuseRequest(soap, why);
        return;
    }
    replay = devcfg::ReplayBytes(request);
    replayAt = 0;
    if (pandel_devcfg_server::pandel_devcfg_server_serve(soap) != SOAP_OK &&
        options.answer != Answer::Fault && soap->error < SOAP_STOP)
        soap_print_fault(soap, stderr);
}

// Takes the connection away from the runtime so that nothing of its own is sent on it.
int TakeConnection(struct soap* soap) {
    const int fd = soap->socket;
    soap->socket = SOAP_INVALID_SOCKET;
    return fd;
}

// The answer to a request that has been read whole; SOAP_OK lets the runtime send the response.
int AnswerRequest(struct soap* soap) {
    soap->header = nullptr; // the response carries no header
    switch (options.answer) {
    case Answer::Response:
        return SOAP_OK;
    case Answer::Fault:
        if (options.serverFault)
            return soap_receiver_fault(soap, "devcfg-server was told to fail (server)", nullptr);
        return soap_sender_fault(soap, "devcfg-server was told to fail (client)", nullptr);
    case Answer::Hang:
        hungConnections.push_back(TakeConnection(soap));
        return SOAP_STOP;
    case Answer::CloseEarly:
        close(TakeConnection(soap));
        return SOAP_STOP;
    case Answer::Garbage: {
        const int fd = TakeConnection(soap);
        const ssize_t ignored = send(fd, kGarbage, std::strlen(kGarbage), MSG_NOSIGNAL);
        (void)ignored;
        shutdown(fd, SHUT_WR);
        close(fd);
        return SOAP_STOP;
    }
    }
    return SOAP_OK;
}

} // namespace

namespace pandel_devcfg_server {

int soap__Set(struct soap* soap, PandelReportText xIn, struct soap__SetResponse* response) {
    PrintRequest(soap, "Set", xIn);
    response->r = static_cast<int*>(soap_malloc(soap, sizeof(int)));
    if (response->r == nullptr)
        return SOAP_EOM;
    *response->r = options.r;
    return AnswerRequest(soap);
}

int soap__Get(struct soap* soap, PandelReportText xIn, struct soap__GetResponse* response) {
    PrintRequest(soap, "Get", xIn);
    response->xOut.units = u"";
    return AnswerRequest(soap);
}

} // namespace pandel_devcfg_server

int main(int argc, char** argv) {
    options = ParseOptions(argc, argv);
    std::signal(SIGPIPE, SIG_IGN);
    if (!options.rawFile.empty()) {
        rawOut = std::fopen(options.rawFile.c_str(), "ab");
        if (rawOut == nullptr) {
            std::fprintf(stderr, "devcfg-server: cannot open %s: %s\n", options.rawFile.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }

    struct soap* soap = pandel::soap::NewContext(pandel_devcfg_server_namespaces);
    if (soap == nullptr)
        return 1;
    soap->bind_flags = SO_REUSEADDR;
    soap->send_timeout = kClientTimeoutSeconds;
    soap->recv_timeout = kClientTimeoutSeconds;
    soap->socket_flags = MSG_NOSIGNAL;
    // Answers carry no xsi:type: some stacks read a typed r or faultcode as an object.
    soap_set_omode(soap, SOAP_XML_NOTYPE);
    soap->frecv = ReceiveReplay;
    if (!soap_valid_socket(soap_bind(soap, "127.0.0.1", options.port, kBacklog))) {
        std::fprintf(stderr, "devcfg-server: cannot listen on 127.0.0.1 port %d: %s\n",
                     options.port,
                     soap->errnum == EADDRINUSE ? "the port is in use by another program"
                     : soap->errnum != 0        ? std::strerror(soap->errnum)
                                                : "the SOAP runtime could not bind");
        pandel::soap::ReleaseContext(soap);
        return 1;
    }
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    getsockname(soap->master, reinterpret_cast<sockaddr*>(&bound), &length);
    std::printf("listening on 127.0.0.1:%u\n", static_cast<unsigned>(ntohs(bound.sin_port)));
    std::fflush(stdout);

    while (options.count == 0 || requestNumber < options.count) {
        if (!soap_valid_socket(soap_accept(soap))) {
            soap_print_fault(soap, stderr);
            break;
        }
        ++requestNumber;
        ServeConnection(soap);
        soap_closesock(soap);
        soap_destroy(soap);
        soap_end(soap);
    }
    for (int fd : hungConnections)
        close(fd);
    pandel::soap::ReleaseContext(soap);
    if (rawOut != nullptr)
        std::fclose(rawOut);
    return 0;
}
