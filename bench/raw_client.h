// The least a client can do to exchange a request with the answering server: the baseline every
// report is measured against.
#pragma once

#include <cstdint>
#include <string>

namespace pandel::bench {

// Connects to 127.0.0.1:port, sends request in one write and reads until the server closes.
// Returns the number of bytes read, -1 on failure.
long RawExchange(std::uint16_t port, const std::string& request);

} // namespace pandel::bench
