// One Set exchange with the device-configuration service, over a SOAP context and a connection
// of its own.
#pragma once

#include <cstddef>
#include <cstdint>

struct soap;

namespace pandel::soap {

// Each wait for the socket to take more of the request or to deliver more of the response.
inline constexpr int kSendTimeoutSeconds = 15;
inline constexpr int kReceiveTimeoutSeconds = 15;
// The whole exchange, connect, request and response together, ends within this: each wait is the
// smaller of its own time-out and what is left, so a server that trickles its answer, a header
// line or an interim response at a time cannot hold the host's thread longer.
inline constexpr int kExchangeTimeoutSeconds = 60;
// A connect that nobody answers is given up after this, as the terminals' own system does
// (SYN at 0, 3 and 9 s); the system here would keep trying for over two minutes.
inline constexpr int kConnectGiveUpSeconds = 21;
// The largest SetResponse read: a real one is a few hundred bytes. The runtime's parser costs
// time quadratic in an element's attributes, so this bound also bounds the CPU one response can
// cost (under a tenth of a second at this size). Room is left for the HTTP header lines.
inline constexpr std::uint64_t kMaxSetResponseBytes = 64 * 1024;
inline constexpr std::uint64_t kMaxResponseBytes = kMaxSetResponseBytes + 8 * 1024;
// The User-Agent that the service's servers have always seen.
inline constexpr const char* kUserAgent = "gSOAP/2.7";

// What goes into one Set request. Every text is NUL-terminated; the narrow ones are ASCII.
struct SetRequest {
    const char* endpoint = nullptr;    // the address the request goes to (http://host:port/path)
    const char* messageId = nullptr;   // wsa:MessageID
    const char* fromAddress = nullptr; // wsa:From/wsa:Address
    const char* serviceUrl = nullptr;  // wsa:To and wsa:Action
    const char16_t* report = nullptr;  // soap:xIn
};

// Connects to the endpoint, sends the request with an empty SOAPAction and reads the response.
// Returns 0 when a SetResponse with its r came back, r then stored in *result. Otherwise returns
// the runtime's error code (a SOAP Fault's code, -1 for end of input or a time-out, 28 when no
// connection could be made or the connect was given up, 5 when the response holds a NUL byte (no
// XML can), 3 when the Body holds neither a SetResponse nor a Fault, 44 when the
// SetResponse lacks r, an HTTP status, ...) and prints the runtime's fault text on standard
// error. *result becomes 0 once the request has gone out whole, and is untouched before.
int ExchangeSet(const SetRequest& request, std::int32_t* result);

// The runtime's receive step: fills up to the given length of the buffer, 0 at the end.
using ResponseSource = std::size_t (*)(struct ::soap*, char*, std::size_t);

// Reads a response to a Set from source instead of a connection, with the exchange's limits,
// and gives the result as ExchangeSet does. For tests and fuzzers that need no server.
int ReceiveSetResponseFrom(ResponseSource source, std::int32_t* result);

} // namespace pandel::soap
