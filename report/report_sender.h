// The one way out to the management server: a report document sent as one SOAP Set request.
#pragma once

#include "proxy/proxy_settings.h"

#include <cstddef>
#include <cstdint>

namespace pandel {

inline constexpr std::size_t kMessageIdBufferSize = 40;

inline constexpr int kReportRefused = 2;

// Why SendReport would refuse a service URL without sending anything.
enum class UrlRefusal {
    None,           // the URL is sent
    Empty,          // absent or empty: the service URL could not be read
    Unroutable,     // holds "http://0.0.0.0"
    TooLong,        // does not fit kEndpointBufferSize with its terminator
    UnsafeByte,     // white space or a control byte, which would break the request line
    PortOutOfRange, // the port after the host is not a number from 1 to 65535
};

// The first of SendReport's URL refusals that applies to url, or UrlRefusal::None.
UrlRefusal WhyUrlRefused(const char* url);

// True when the endpoint's host, the text after the scheme's seven characters, begins with
// "127.0.0.1" or "localhost" (exact, case-sensitive): such reports never go through the proxy.
bool IsLoopbackEndpoint(const char* endpoint);

// Sends report (UTF-16, NUL-terminated) as the xIn of one Set request to url (narrow,
// http://host:port/path, NUL-terminated) over a connection of its own, and waits for the
// SetResponse. Returns 0 when it came back complete (its r stored in *result), kReportRefused
// when url or report is absent or empty, url contains "http://0.0.0.0", does not fit
// kEndpointBufferSize or writes a port that is not 1 to 65535 (nothing sent, nothing printed,
// *result untouched), also when the proxy's port is no such port (the proxy step has printed
// its lines; nothing sent, *result untouched), else the SOAP
// runtime's error code for the failed exchange (fault printout on standard error). *result is
// 0 after a failure that came once the request had gone out.
int SendReport(const char* url, const char16_t* report, std::int32_t* result);

} // namespace pandel
