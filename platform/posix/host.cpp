// Host name and its IPv4 addresses on POSIX: gethostname and the resolver.
#include "platform/host.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform::native {
namespace {

// Larger than any name the system allows (HOST_NAME_MAX is 64 on Linux).
constexpr std::size_t kHostNameBufferSize = 256;

} // namespace

std::optional<std::string> HostName() {
    char name[kHostNameBufferSize + 1] = {};
    if (gethostname(name, kHostNameBufferSize) != 0)
        return std::nullopt;
    return std::string(name); // the extra byte keeps it terminated even when cut off
}

std::vector<std::string> ResolveIPv4(const std::string& hostName) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    // One socket type only: each address then comes once, in the resolver's order.
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(hostName.c_str(), nullptr, &hints, &found) != 0)
        return {};
    std::vector<std::string> addresses;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET || entry->ai_addr == nullptr)
            continue;
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
        char text[INET_ADDRSTRLEN] = {};
        if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr)
            addresses.emplace_back(text);
    }
    freeaddrinfo(found);
    return addresses;
}

} // namespace platform::native
