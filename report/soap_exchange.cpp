// The Set exchange on the client side generated from the service definition, with the steps
// the runtime must take differently from its generated call: the request ends right at the
// closing Envelope tag, and a response is accepted only when it really is a SetResponse with r.
#include "report/soap_exchange.h"

#include "platform/socket_io.h"
#include "platform/tcp_connect.h"
#include "report/soap_runtime.h"

// The envelope code first: the client side's header turns off the global declarations.
#include <pandel_devcfg_envelopeH.h>

#include <pandel_devcfg_clientH.h>
// The client side's namespace table, pandel_devcfg_client_namespaces, defined here once.
#include <pandel_devcfg_client.nsmap>
#include <stdsoap2.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

namespace pandel::soap {

namespace client = pandel_devcfg_client;

namespace {

constexpr const char* kEmptySoapAction = "";

using Clock = std::chrono::steady_clock;

// What one exchange adds to its context: the runtime's header step that it wraps, where the
// response comes from, the deadline of the whole exchange, the connection's waits as the system
// holds them, and what the receive step saw.
struct ExchangeState {
    int (*runtimeHeaderWriter)(struct ::soap*, const char*, const char*) = nullptr;
    ResponseSource source = nullptr;
    Clock::time_point deadline;
    platform::SocketWaits waits;
    std::uint64_t received = 0;
    bool sawNul = false;
    bool cutOff = false; // more than kMaxResponseBytes came
};

ExchangeState* StateOf(struct ::soap* soap) {
    return static_cast<ExchangeState*>(soap->user);
}

std::chrono::microseconds TimeLeft(const ExchangeState& state) {
    return std::chrono::duration_cast<std::chrono::microseconds>(state.deadline - Clock::now());
}

// The next wait: the smaller of its own time-out and what is left of the exchange, in
// milliseconds; false when nothing is left. The runtime's time-out is set to the same (it reads
// a negative one as microseconds), so that its fault text names the wait that ran out.
bool BoundNextWait(const ExchangeState& state, int seconds, int* timeout, int* waitMs) {
    const std::chrono::microseconds left = TimeLeft(state);
    if (left.count() <= 0)
        return false;
    const std::chrono::microseconds wait =
        std::min<std::chrono::microseconds>(left, std::chrono::seconds(seconds));
    *timeout = -static_cast<int>(std::max<std::chrono::microseconds::rep>(wait.count(), 1));
    *waitMs = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait).count());
    return true;
}

int WriteHttpHeader(struct ::soap* soap, const char* key, const char* value) {
    if (key != nullptr && std::strcmp(key, "User-Agent") == 0)
        value = kUserAgent;
    return StateOf(soap)->runtimeHeaderWriter(soap, key, value);
}

// The whole of data, as the runtime's send step must, each wait bounded anew.
int SendWithinDeadline(struct ::soap* soap, const char* data, std::size_t length) {
    ExchangeState* state = StateOf(soap);
    soap->errnum = 0;
    while (length > 0) {
        int waitMs = 0;
        if (!BoundNextWait(*state, kSendTimeoutSeconds, &soap->send_timeout, &waitMs))
            return SOAP_EOF;
        int error = 0;
        const long sent = platform::SendSome(soap->socket, data, length, waitMs, &error);
        if (sent < 0) {
            soap->errnum = error;
            return SOAP_EOF;
        }
        data += sent;
        length -= static_cast<std::size_t>(sent);
    }
    return SOAP_OK;
}

std::size_t ReceiveFromConnection(struct ::soap* soap, char* buffer, std::size_t length) {
    ExchangeState* state = StateOf(soap);
    int waitMs = 0;
    if (!BoundNextWait(*state, kReceiveTimeoutSeconds, &soap->recv_timeout, &waitMs))
        return 0;
    int error = 0;
    const long got =
        platform::ReceiveSome(soap->socket, &state->waits, buffer, length, waitMs, &error);
    if (got < 0) {
        soap->errnum = error;
        return 0;
    }
    return static_cast<std::size_t>(got);
}

// A NUL byte can stand nowhere in an HTTP response with an XML body; the runtime would skip it
// and could take what is left for a sound answer, so the response ends there, not well-formed.
// A response past its bound ends where the bound falls. The runtime would end it too, but what it
// then reports depends on where in the XML the bytes ran out, and so on how they came in.
std::size_t ReceiveWithinDeadline(struct ::soap* soap, char* buffer, std::size_t length) {
    ExchangeState* state = StateOf(soap);
    soap->errnum = 0;
    if (TimeLeft(*state).count() <= 0)
        return 0;
    const std::size_t got = state->source(soap, buffer, length);
    if (got > 0 && std::memchr(buffer, '\0', got) != nullptr) {
        state->sawNul = true;
        return 0;
    }
    state->received += got;
    if (state->received > kMaxResponseBytes) {
        state->cutOff = true;
        return 0;
    }
    return got;
}

// Closing the socket ends the connection as a shutdown before it would.
int NoShutdown(struct ::soap*, SOAP_SOCKET, int) {
    return SOAP_OK;
}

// The connection, given up after kConnectGiveUpSeconds (or what is left of the exchange).
SOAP_SOCKET OpenConnection(struct ::soap* soap, const char*, const char* host, int port) {
    const std::chrono::milliseconds left =
        std::chrono::duration_cast<std::chrono::milliseconds>(TimeLeft(*StateOf(soap)));
    const std::chrono::milliseconds giveUp =
        std::min<std::chrono::milliseconds>(left, std::chrono::seconds(kConnectGiveUpSeconds));
    std::string failure = "exchange time used up";
    platform::SocketHandle socket = platform::kNoSocket;
    if (giveUp.count() > 0)
        socket = platform::ConnectTcp(host, port, static_cast<int>(giveUp.count()), &failure);
    if (socket == platform::kNoSocket) {
        soap_set_receiver_error(soap, soap_strdup(soap, failure.c_str()),
                                "connect failed in OpenConnection()", SOAP_TCP_ERROR);
        return SOAP_INVALID_SOCKET;
    }
    return static_cast<SOAP_SOCKET>(socket);
}

// The envelope as the generated call writes it, except that nothing follows the closing
// Envelope tag (the runtime would add a line break there).
int WriteSetEnvelope(struct ::soap* soap, const client::soap__Set& set) {
    if (soap_envelope_begin_out(soap) || soap_putheader(soap) || soap_body_begin_out(soap) ||
        client::soap_put_soap__Set(soap, &set, "soap:Set", "") || soap_body_end_out(soap) ||
        soap_element_end_out(soap, "SOAP-ENV:Envelope"))
        return soap->error;
    return SOAP_OK;
}

// Counts the message, connects and sends it with its Content-Length.
int SendSet(struct ::soap* soap, const char* endpoint, const PandelReportText& report) {
    client::soap__Set set;
    client::soap_default_soap__Set(soap, &set);
    set.xIn = report;
    soap_begin(soap);
    soap->encodingStyle = nullptr; // literal
    soap_serializeheader(soap);
    client::soap_serialize_soap__Set(soap, &set);
    if (soap_begin_count(soap))
        return soap->error;
    if ((soap->mode & SOAP_IO_LENGTH) && WriteSetEnvelope(soap, set))
        return soap->error;
    if (soap_end_count(soap))
        return soap->error;
    if (soap_connect(soap, endpoint, kEmptySoapAction) || WriteSetEnvelope(soap, set) ||
        soap_end_send(soap))
        return soap_closesock(soap);
    return SOAP_OK;
}

// After the Body's content failed to be a SetResponse: true when what the Body holds is no
// element at all, or an element other than a Fault. The runtime would take either for success.
bool BodyHoldsNeitherResponseNorFault(struct ::soap* soap) {
    if (soap->error == SOAP_NO_TAG)
        return true;
    return soap->error == SOAP_TAG_MISMATCH && soap->level == 2 &&
           soap_match_tag(soap, soap->tag, "SOAP-ENV:Fault") != SOAP_OK;
}

// The result for a Fault, from its code as the response wrote it (SOAP 1.1 faultcode, or the
// SOAP 1.2 Code's Value). The runtime compares the code with the envelope namespace through the
// prefixes that the response itself declared, so a code whose envelope prefix is not SOAP-ENV
// (every SOAP 1.2 fault from an ordinary server) came out as "other". Its QName reader has
// already rewritten a prefix bound to the envelope namespace into SOAP-ENV, so comparing that
// text compares namespace and local name.
struct FaultCodeResult {
    const char* code;
    int result;
};
constexpr FaultCodeResult kFaultCodeResults[] = {
    {"SOAP-ENV:Server", SOAP_SVR_FAULT},
    {"SOAP-ENV:Receiver", SOAP_SVR_FAULT},
    {"SOAP-ENV:Client", SOAP_CLI_FAULT},
    {"SOAP-ENV:Sender", SOAP_CLI_FAULT},
    {"SOAP-ENV:MustUnderstand", SOAP_MUSTUNDERSTAND},
    {"SOAP-ENV:VersionMismatch", SOAP_VERSIONMISMATCH},
};

bool IsFaultResult(int error) {
    return error == SOAP_SVR_FAULT || error == SOAP_CLI_FAULT || error == SOAP_MUSTUNDERSTAND ||
           error == SOAP_VERSIONMISMATCH || error == SOAP_FAULT;
}

const char* ReceivedFaultCode(const struct ::soap* soap) {
    const SOAP_ENV__Fault* fault = soap->fault;
    if (fault == nullptr)
        return nullptr;
    if (fault->faultcode != nullptr)
        return fault->faultcode;
    if (fault->SOAP_ENV__Code != nullptr)
        return fault->SOAP_ENV__Code->SOAP_ENV__Value;
    return nullptr;
}

int FaultResult(struct ::soap* soap, int runtimeResult) {
    const char* code = ReceivedFaultCode(soap);
    if (!IsFaultResult(runtimeResult) || code == nullptr)
        return runtimeResult;
    for (const FaultCodeResult& known : kFaultCodeResults) {
        if (std::strcmp(code, known.code) == 0)
            return known.result;
    }
    return SOAP_FAULT;
}

// Reads the response to a Set; stores r in *result only when the whole response was sound.
int ReceiveSetResponse(struct ::soap* soap, std::int32_t* result) {
    client::soap__SetResponse response;
    client::soap_default_soap__SetResponse(soap, &response);
    if (soap_begin_recv(soap) || soap_envelope_begin_in(soap) || soap_recv_header(soap) ||
        soap_body_begin_in(soap))
        return soap_closesock(soap);
    client::soap_get_soap__SetResponse(soap, &response, "soap:SetResponse", nullptr);
    if (soap->error != SOAP_OK) {
        if (BodyHoldsNeitherResponseNorFault(soap)) {
            soap->error = SOAP_TAG_MISMATCH;
            return soap_closesock(soap);
        }
        const int error = FaultResult(soap, soap_recv_fault(soap, 0));
        soap_closesock(soap);
        soap->error = error;
        return error;
    }
    if (response.r == nullptr) {
        soap->error = SOAP_OCCURS;
        return soap_closesock(soap);
    }
    if (soap_body_end_in(soap) || soap_envelope_end_in(soap) || soap_end_recv(soap))
        return soap_closesock(soap);
    *result = *response.r;
    return soap_closesock(soap);
}

// The time-outs, the deadline and the response limit of every exchange, and the steps that
// keep them.
void ApplyExchangeLimits(struct ::soap* soap, ExchangeState* state) {
    state->deadline = Clock::now() + std::chrono::seconds(kExchangeTimeoutSeconds);
    state->runtimeHeaderWriter = soap->fposthdr;
    state->source = ReceiveFromConnection;
    soap->user = state;
    soap->fposthdr = WriteHttpHeader;
    soap->frecv = ReceiveWithinDeadline;
    soap->fsend = SendWithinDeadline;
    soap->fopen = OpenConnection;
    soap->fshutdownsocket = NoShutdown;
    soap->send_timeout = kSendTimeoutSeconds;
    soap->recv_timeout = kReceiveTimeoutSeconds;
    soap->recv_maxlength = kMaxResponseBytes;
    // The deadline above keeps it; set for the fault text, which names it.
    soap->transfer_timeout = kExchangeTimeoutSeconds;
}

// What the receive step saw overrides what the runtime made of the bytes before it.
int ReceiveResult(struct ::soap* soap, const ExchangeState& state, int error) {
    if (state.sawNul) {
        soap_set_receiver_error(soap, "NUL byte in the response", "not well-formed",
                                SOAP_SYNTAX_ERROR);
        return SOAP_SYNTAX_ERROR;
    }
    if (state.cutOff) {
        soap_set_receiver_error(soap, "response too large", "max message length exceeded",
                                SOAP_EOF);
        return SOAP_EOF;
    }
    return error;
}

std::size_t ReportLength(const char16_t* report) {
    std::size_t length = 0;
    while (report[length] != u'\0')
        ++length;
    return length;
}

} // namespace

int ExchangeSet(const SetRequest& request, std::int32_t* result) {
    struct ::soap* soap = NewContext(pandel_devcfg_client_namespaces);
    if (soap == nullptr)
        return SOAP_EOM;

    ExchangeState state;
    ApplyExchangeLimits(soap, &state);

    _wsa__From from;
    soap_default_wsa__EndpointReferenceType(soap, &from);
    from.Address = const_cast<char*>(request.fromAddress);
    SOAP_ENV__Header header;
    soap_default_SOAP_ENV__Header(soap, &header);
    header.wsa__MessageID = const_cast<char*>(request.messageId);
    header.wsa__From = &from;
    header.wsa__ReplyTo = nullptr;
    header.wsa__To = const_cast<char*>(request.serviceUrl);
    header.wsa__Action = const_cast<char*>(request.serviceUrl);
    soap->header = &header;

    int error = SOAP_EOM;
    const std::size_t units = ReportLength(request.report) + 1;
    auto* copy = static_cast<char16_t*>(soap_malloc(soap, units * sizeof(char16_t)));
    if (copy != nullptr) {
        std::memcpy(copy, request.report, units * sizeof(char16_t));
        error = SendSet(soap, request.endpoint, PandelReportText{copy});
        if (error == SOAP_OK) {
            *result = 0;
            std::int32_t received = 0;
            error = ReceiveResult(soap, state, ReceiveSetResponse(soap, &received));
            if (error == SOAP_OK)
                *result = received;
        }
    } else {
        soap->error = SOAP_EOM;
    }
    if (error != SOAP_OK)
        soap_print_fault(soap, stderr);

    soap->header = nullptr; // lives on this stack frame, not in the context
    ReleaseContext(soap);
    return error;
}

int ReceiveSetResponseFrom(ResponseSource source, std::int32_t* result) {
    struct ::soap* soap = NewContext(pandel_devcfg_client_namespaces);
    if (soap == nullptr)
        return SOAP_EOM;
    ExchangeState state;
    ApplyExchangeLimits(soap, &state);
    state.source = source;
    std::int32_t received = 0;
    const int error = ReceiveResult(soap, state, ReceiveSetResponse(soap, &received));
    if (error == SOAP_OK)
        *result = received;
    ReleaseContext(soap);
    return error;
}

} // namespace pandel::soap
