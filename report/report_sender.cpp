// The report sender: the refusal checks, the endpoint and header texts of one Set request, and
// the exchange itself.
#include "report/report_sender.h"

#include "platform/platform.h"
#include "report/proxy_settings.h"
#include "report/soap_exchange.h"

#include <cstdio>
#include <cstring>
#include <string_view>

namespace pandel {

namespace {

constexpr const char* kUnroutableAddress = "http://0.0.0.0";
constexpr std::size_t kSchemeLength = 7; // "http://"
constexpr const char* kLoopbackHosts[] = {"127.0.0.1", "localhost"};

// A byte that cannot stand in an HTTP request line: the URL's path goes into it as it is, so
// white space or a line break would end the line early and let the rest pass as header lines.
bool IsUnsafeInRequestLine(unsigned char c) {
    return c <= 0x20 || c == 0x7F;
}

// The port written in the URL's authority must be a TCP port, 1 to 65535 in decimal: the runtime
// would take 8080 + 65536 for 8080, and send the report where nobody meant it to go. A URL that
// names no port at all keeps HTTP's own.
bool HasUsablePort(const char* url) {
    const char* authority = std::strstr(url, "//");
    if (authority == nullptr)
        return true;
    authority += 2;
    const std::size_t length = std::strcspn(authority, "/");
    const std::string_view hostAndPort(authority, length);
    const std::size_t colon = hostAndPort.rfind(':');
    if (colon == std::string_view::npos || hostAndPort.back() == ']')
        return true;
    const std::string_view port = hostAndPort.substr(colon + 1);
    if (port.empty() || port.size() > 5)
        return false;
    long value = 0;
    for (const char digit : port) {
        if (digit < '0' || digit > '9')
            return false;
        value = value * 10 + (digit - '0');
    }
    return value >= 1 && value <= 65535;
}

bool IsRefusedUrl(const char* url) {
    if (url == nullptr || url[0] == '\0')
        return true;
    if (std::strstr(url, kUnroutableAddress) != nullptr)
        return true;
    // A longer URL does not fit the endpoint buffer, and cutting it would address another place.
    const std::size_t length = strnlen(url, kEndpointBufferSize);
    if (length == kEndpointBufferSize)
        return true;
    for (std::size_t i = 0; i < length; ++i) {
        if (IsUnsafeInRequestLine(static_cast<unsigned char>(url[i])))
            return true;
    }
    return !HasUsablePort(url);
}

// Reports to this machine never go through the proxy. The test is on the text after the
// scheme's seven characters, exact and case-sensitive.
bool IsLoopbackEndpoint(const char* endpoint) {
    const char* host = endpoint + kSchemeLength; // inside the buffer whatever the URL's length
    for (const char* loopback : kLoopbackHosts) {
        if (std::strncmp(host, loopback, std::strlen(loopback)) == 0)
            return true;
    }
    return false;
}

} // namespace

int SendReport(const char* url, const char16_t* report, std::int32_t* result) {
    if (IsRefusedUrl(url))
        return kReportRefused;
    if (report == nullptr || report[0] == u'\0')
        return kReportRefused;

    char endpoint[kEndpointBufferSize] = {};
    std::memcpy(endpoint, url, std::strlen(url) + 1);
    if (!IsLoopbackEndpoint(endpoint))
        ApplyProxyToEndpoint(endpoint);
    endpoint[kEndpointBufferSize - 1] = '\0';
    // The proxy's port comes from a file anyone may have written.
    if (!HasUsablePort(endpoint))
        return kReportRefused;

    char localAddresses[kLocalAddressBufferSize] = {};
    GetLocalAddressList(localAddresses);
    localAddresses[kLocalAddressBufferSize - 1] = '\0';

    char messageId[kMessageIdBufferSize] = {};
    std::snprintf(messageId, sizeof messageId, "%d",
                  static_cast<std::int32_t>(platform::Current().TickCountMs()));

    // A caller without a slot still gets its report sent; r is then dropped.
    std::int32_t unusedResult = 0;
    soap::SetRequest request;
    request.endpoint = endpoint;
    request.messageId = messageId;
    request.fromAddress = localAddresses;
    request.serviceUrl = url;
    request.report = report;
    return soap::ExchangeSet(request, result != nullptr ? result : &unusedResult);
}

} // namespace pandel
