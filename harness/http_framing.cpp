// HTTP framing by the bytes: the fields are found as the module and the SOAP runtime write them.
#include "harness/http_framing.h"

#include <cstdlib>
#include <string_view>

namespace pandel::test {
namespace {

constexpr char kHeadEnd[] = "\r\n\r\n";
constexpr char kContentLength[] = "\r\nContent-Length: ";

} // namespace

std::size_t HeadEnd(const std::string& message) {
    const std::size_t at = message.find(kHeadEnd);
    return at == std::string::npos ? at : at + sizeof kHeadEnd - 1;
}

std::size_t MessageSize(const std::string& message) {
    const std::size_t headEnd = HeadEnd(message);
    if (headEnd == std::string::npos)
        return headEnd;
    const std::size_t field = std::string_view(message.data(), headEnd).find(kContentLength);
    if (field == std::string::npos)
        return headEnd;
    return headEnd + std::strtoul(message.c_str() + field + sizeof kContentLength - 1, nullptr, 10);
}

std::string MessageBody(const std::string& message) {
    const std::size_t headEnd = HeadEnd(message);
    return headEnd == std::string::npos ? std::string() : message.substr(headEnd);
}

std::string XmlResponse(const std::string& status, const std::string& body) {
    return "HTTP/1.1 " + status + "\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

} // namespace pandel::test
