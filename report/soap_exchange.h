// One Set exchange with the device-configuration service, over a SOAP context and a connection
// of its own.
#pragma once

#include <cstddef>
#include <cstdint>

struct soap;

namespace pandel::soap {

inline constexpr int kSendTimeoutSeconds = 15;
inline constexpr int kReceiveTimeoutSeconds = 15;
// Sending the request, and receiving the response, each end with an error once they have taken
// this long, checked whenever data arrives or leaves: a server that trickles its answer a byte
// at a time, each within the 15 s, cannot hold the call for ever. A silent server still ends
// the call after 15 s.
inline constexpr int kTransferTimeoutSeconds = 60;
// A SetResponse is a few hundred bytes; a response beyond this is cut off as an error, so a
// server that never stops sending cannot make the call hold more.
inline constexpr std::uint64_t kMaxResponseBytes = 1024 * 1024;
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
// connection could be made, 3 when the Body holds neither a SetResponse nor a Fault, 44 when the
// SetResponse lacks r, an HTTP status, ...) and prints the runtime's fault text on standard
// error. *result becomes 0 once the request has gone out whole, and is untouched before.
int ExchangeSet(const SetRequest& request, std::int32_t* result);

// The runtime's receive step: fills up to the given length of the buffer, 0 at the end.
using ResponseSource = std::size_t (*)(struct ::soap*, char*, std::size_t);

// Reads a response to a Set from source instead of a connection, with the exchange's limits,
// and gives the result as ExchangeSet does. For tests and fuzzers that need no server.
int ReceiveSetResponseFrom(ResponseSource source, std::int32_t* result);

} // namespace pandel::soap
