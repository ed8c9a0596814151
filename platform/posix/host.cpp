// Host name and its IPv4 addresses on POSIX: gethostname and the resolver.
#include "platform/host.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pandel::platform::native {
namespace {

// Larger than any name the system allows (HOST_NAME_MAX is 64 on Linux).
constexpr std::size_t kHostNameBufferSize = 256;
// The resolver's working space: enough for a few dozen addresses and aliases, doubled while it
// asks for more, up to a bound.
constexpr std::size_t kResolverBufferSize = 2048;
constexpr std::size_t kResolverBufferLimit = 1024 * 1024;

} // namespace

std::optional<std::string> HostName() {
    char name[kHostNameBufferSize + 1] = {};
    if (gethostname(name, kHostNameBufferSize) != 0)
        return std::nullopt;
    return std::string(name); // the extra byte keeps it terminated even when cut off
}

// gethostbyname_r, not getaddrinfo: getaddrinfo sorts the addresses by its own preference, while
// the list must keep the resolver's order. The reentrant form keeps concurrent reports apart.
std::vector<std::string> ResolveIPv4(const std::string& hostName) {
    hostent entry{};
    hostent* found = nullptr;
    int error = 0;
    std::vector<char> work(kResolverBufferSize);
    while (gethostbyname_r(hostName.c_str(), &entry, work.data(), work.size(), &found, &error) ==
               ERANGE &&
           work.size() < kResolverBufferLimit)
        work.resize(work.size() * 2);
    if (found == nullptr || entry.h_addrtype != AF_INET || entry.h_length != sizeof(in_addr))
        return {};
    std::vector<std::string> addresses;
    for (char** address = entry.h_addr_list; *address != nullptr; ++address) {
        char text[INET_ADDRSTRLEN] = {};
        if (inet_ntop(AF_INET, *address, text, sizeof text) != nullptr)
            addresses.emplace_back(text);
    }
    return addresses;
}

} // namespace pandel::platform::native
