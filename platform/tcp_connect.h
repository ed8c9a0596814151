// Opening the TCP connection of an exchange that the SOAP runtime then drives: compile-time only.
#pragma once

#include <cstdint>
#include <string>

namespace pandel::platform {

// A connected socket as the system numbers it; kNoSocket when there is none.
using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

// Connects to host (a name or an address) on port, trying the resolver's addresses in its
// order, and gives up once giveUpMs have passed without an answer. The socket comes back ready
// for SendSome and ReceiveSome (platform/socket_io.h). kNoSocket on failure, with a short reason
// in *failure.
SocketHandle ConnectTcp(const std::string& host, int port, int giveUpMs, std::string* failure);

} // namespace pandel::platform
