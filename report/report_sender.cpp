// The report sender: the refusal checks, the endpoint and header texts of one Set request, and
// the exchange itself.
#include "report/report_sender.h"

#include "platform/platform.h"
#include "proxy/proxy_settings.h"
#include "report/soap_exchange.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

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

constexpr unsigned long kHighestPort = 65535;

// A port written after the host must name a real one: a runtime reading "0", "" or "80x" as a
// number would connect somewhere the URL does not say.
bool HasPortOutOfRange(const std::string& url) {
    const std::size_t slashes = url.find("//");
    const std::size_t authority = slashes == std::string::npos ? 0 : slashes + 2;
    const std::size_t end = std::min(url.find('/', authority), url.size());
    // A bracketed IPv6 literal holds colons of its own; the port's comes after its ']'.
    const std::size_t bracket =
        url.compare(authority, 1, "[") == 0 ? url.find(']', authority) : std::string::npos;
    const std::size_t colon = url.find(':', bracket == std::string::npos ? authority : bracket);
    if (colon == std::string::npos || colon >= end)
        return false;
    const std::string port = url.substr(colon + 1, end - colon - 1);
    if (port.empty() || port.size() > 5)
        return true;
    unsigned long value = 0;
    for (char c : port) {
        if (c < '0' || c > '9')
            return true;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    return value < 1 || value > kHighestPort;
}

} // namespace

UrlRefusal WhyUrlRefused(const char* url) {
    if (url == nullptr || url[0] == '\0')
        return UrlRefusal::Empty;
    if (std::strstr(url, kUnroutableAddress) != nullptr)
        return UrlRefusal::Unroutable;
    // A longer URL does not fit the endpoint buffer, and cutting it would address another place.
    const std::size_t length = strnlen(url, kEndpointBufferSize);
    if (length == kEndpointBufferSize)
        return UrlRefusal::TooLong;
    for (std::size_t i = 0; i < length; ++i) {
        if (IsUnsafeInRequestLine(static_cast<unsigned char>(url[i])))
            return UrlRefusal::UnsafeByte;
    }
    if (HasPortOutOfRange(std::string(url, length)))
        return UrlRefusal::PortOutOfRange;
    return UrlRefusal::None;
}

bool IsLoopbackEndpoint(const char* endpoint) {
    const char* host = endpoint + kSchemeLength; // inside the buffer whatever the URL's length
    for (const char* loopback : kLoopbackHosts) {
        if (std::strncmp(host, loopback, std::strlen(loopback)) == 0)
            return true;
    }
    return false;
}

int SendReport(const char* url, const char16_t* report, std::int32_t* result) {
    if (WhyUrlRefused(url) != UrlRefusal::None)
        return kReportRefused;
    if (report == nullptr || report[0] == u'\0')
        return kReportRefused;

    char endpoint[kEndpointBufferSize] = {};
    std::memcpy(endpoint, url, std::strlen(url) + 1);
    if (!IsLoopbackEndpoint(endpoint))
        ApplyProxyToEndpoint(endpoint);
    endpoint[kEndpointBufferSize - 1] = '\0';
    // The proxy's port comes from a file anyone may have written.
    if (HasPortOutOfRange(endpoint))
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
