// devcfg-server: the device-configuration service on 127.0.0.1 for development and tests. Prints
// every Set it receives and answers as told: r, a Fault, silence, an early close or garbage.
#include "platform/wide_text.h"
#include "report/soap_runtime.h"
#include "tools/common/tool_options.h"

// The envelope code first: the server side's header turns off the global declarations.
#include <pandel_devcfg_envelopeH.h>

#include <pandel_devcfg_serverH.h>
// The server side's namespace table, pandel_devcfg_server_namespaces, defined here once.
#include <pandel_devcfg_server.nsmap>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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
size_t (*runtimeReceive)(struct soap*, char*, size_t) = nullptr;

const pandel::tools::ToolUsage kUsage = {
    "devcfg-server",
    "devcfg-server [--port N] [--r N] [--fault client|server] [--hang]\n"
    "                     [--close-early] [--garbage] [--count N] [--raw FILE]\n",
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
    "  --help, --version  this text; the version\n"
    "Exit status: 0 done, 1 cannot listen or open FILE, 2 wrong usage.\n"};

Options ParseOptions(int argc, char** argv) {
    using pandel::tools::NumberOption;
    using pandel::tools::OptionValue;
    pandel::tools::HandleHelpAndVersion(kUsage, argc, argv);
    Options parsed;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--port") {
            parsed.port = static_cast<int>(
                NumberOption(kUsage, arg, OptionValue(kUsage, argc, argv, i), 0, 65535));
        } else if (arg == "--r") {
            parsed.r = static_cast<int>(NumberOption(
                kUsage, arg, OptionValue(kUsage, argc, argv, i), INT32_MIN, INT32_MAX));
        } else if (arg == "--count") {
            parsed.count =
                NumberOption(kUsage, arg, OptionValue(kUsage, argc, argv, i), 1, LONG_MAX);
        } else if (arg == "--fault") {
            const std::string kind = OptionValue(kUsage, argc, argv, i);
            if (kind != "client" && kind != "server")
                pandel::tools::UsageError(kUsage,
                                          "--fault takes client or server, not '" + kind + "'");
            parsed.answer = Answer::Fault;
            parsed.serverFault = kind == "server";
        } else if (arg == "--hang") {
            parsed.answer = Answer::Hang;
        } else if (arg == "--close-early") {
            parsed.answer = Answer::CloseEarly;
        } else if (arg == "--garbage") {
            parsed.answer = Answer::Garbage;
        } else if (arg == "--raw") {
            parsed.rawFile = OptionValue(kUsage, argc, argv, i);
        } else {
            pandel::tools::UsageError(kUsage, "unknown option " + arg);
        }
    }
    return parsed;
}

// Every byte read from a client, as it came, appended to the --raw file.
size_t ReceiveAndKeep(struct soap* soap, char* buffer, size_t size) {
    const size_t got = runtimeReceive(soap, buffer, size);
    if (got > 0) {
        std::fwrite(buffer, 1, got, rawOut);
        std::fflush(rawOut);
    }
    return got;
}

const char* TextOrNone(const char* text) {
    return text != nullptr ? text : "(none)";
}

void PrintRequest(struct soap* soap, const char* operation, const PandelReportText& text) {
    const SOAP_ENV__Header* header = soap->header;
    const char* from = nullptr;
    if (header != nullptr && header->wsa__From != nullptr)
        from = header->wsa__From->Address;
    const std::u16string units = text.units != nullptr ? text.units : u"";
    std::printf("--- %s #%ld\n", operation, requestNumber);
    std::printf("MessageID: %s\n", TextOrNone(header ? header->wsa__MessageID : nullptr));
    std::printf("From: %s\n", TextOrNone(from));
    std::printf("To: %s\n", TextOrNone(header ? header->wsa__To : nullptr));
    std::printf("Action: %s\n", TextOrNone(header ? header->wsa__Action : nullptr));
    std::printf("Report (%zu units):\n%s\n--- end\n", units.size(),
                platform::Utf16ToUtf8(units).c_str());
    std::fflush(stdout);
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
    if (rawOut != nullptr) {
        runtimeReceive = soap->frecv;
        soap->frecv = ReceiveAndKeep;
    }
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
        if (pandel_devcfg_server::pandel_devcfg_server_serve(soap) != SOAP_OK &&
            options.answer != Answer::Fault && soap->error < SOAP_STOP)
            soap_print_fault(soap, stderr);
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
