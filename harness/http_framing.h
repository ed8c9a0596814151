// HTTP/1.1 framing as the test servers, clients and builders need it: where a message's head
// ends, how long the whole message is by its Content-Length, and the responses they send.
#pragma once

#include <cstddef>
#include <string>

namespace pandel::test {

// The offset just past the empty line ending the head (CR LF CR LF); npos while it has not come.
std::size_t HeadEnd(const std::string& message);

// The whole message's size: its head and Content-Length bytes of body (none without the field);
// npos while the head has not come whole.
std::size_t MessageSize(const std::string& message);

// What follows the head; empty while the head has not come whole.
std::string MessageBody(const std::string& message);

// An HTTP/1.1 response with the given status (code and reason) carrying an XML body: its
// Content-Type, Content-Length and Connection: close.
std::string XmlResponse(const std::string& status, const std::string& body);

} // namespace pandel::test
