// Adapters on POSIX: the network interfaces other than loopback, and the ethtool permanent-address
// query on each.
#include "platform/adapters.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pandel::platform::native {
namespace {

// Room after the request header for the longest hardware address the kernel knows (MAX_ADDR_LEN).
constexpr std::size_t kPermanentAddressRoom = 32;

// The kernel's request ends in a flexible array that the answer fills.
struct alignas(ethtool_perm_addr) PermanentAddressRequest {
    std::uint8_t bytes[sizeof(ethtool_perm_addr) + kPermanentAddressRoom];
};

struct Interface {
    unsigned index;
    std::string name;
};

class Socket {
public:
    Socket() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~Socket() {
        if (fd_ >= 0)
            close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

std::optional<std::vector<Interface>> ListInterfaces() {
    struct if_nameindex* list = if_nameindex();
    if (list == nullptr)
        return std::nullopt;
    std::vector<Interface> interfaces;
    for (const struct if_nameindex* it = list; it->if_index != 0 && it->if_name != nullptr; ++it)
        interfaces.push_back({it->if_index, it->if_name});
    if_freenameindex(list);
    // The kernel's dump follows its hash of indexes; callers rely on index order.
    std::sort(interfaces.begin(), interfaces.end(),
              [](const Interface& a, const Interface& b) { return a.index < b.index; });
    return interfaces;
}

bool FillRequestName(ifreq& request, const std::string& name) {
    std::memset(&request, 0, sizeof request);
    if (name.size() >= sizeof request.ifr_name)
        return false;
    std::memcpy(request.ifr_name, name.c_str(), name.size() + 1);
    return true;
}

// Nullopt when the interface is gone or its flags cannot be read.
std::optional<bool> IsLoopback(int fd, const std::string& name) {
    ifreq request;
    if (!FillRequestName(request, name) || ioctl(fd, SIOCGIFFLAGS, &request) != 0)
        return std::nullopt;
    return (request.ifr_flags & IFF_LOOPBACK) != 0;
}

// A driver without a burned-in address answers with zeros; that is no answer.
std::optional<HardwareAddress> QueryPermanentAddress(int fd, const std::string& name) {
    PermanentAddressRequest buffer{};
    auto* answer = reinterpret_cast<ethtool_perm_addr*>(buffer.bytes);
    answer->cmd = ETHTOOL_GPERMADDR;
    answer->size = kPermanentAddressRoom;
    ifreq request;
    if (!FillRequestName(request, name))
        return std::nullopt;
    request.ifr_data = reinterpret_cast<char*>(buffer.bytes);
    if (ioctl(fd, SIOCETHTOOL, &request) != 0)
        return std::nullopt;
    HardwareAddress address{};
    if (answer->size != address.size())
        return std::nullopt;
    std::memcpy(address.data(), buffer.bytes + offsetof(ethtool_perm_addr, data), address.size());
    if (std::all_of(address.begin(), address.end(), [](std::uint8_t b) { return b == 0; }))
        return std::nullopt;
    return address;
}

} // namespace

std::optional<std::vector<AdapterAnswer>> QueryAdapterPermanentAddresses() {
    Socket socket;
    if (socket.fd() < 0)
        return std::nullopt;
    std::optional<std::vector<Interface>> interfaces = ListInterfaces();
    if (!interfaces)
        return std::nullopt;
    std::vector<AdapterAnswer> adapters;
    for (const Interface& interface : *interfaces) {
        std::optional<bool> loopback = IsLoopback(socket.fd(), interface.name);
        if (!loopback || *loopback)
            continue;
        adapters.push_back({interface.name, QueryPermanentAddress(socket.fd(), interface.name)});
    }
    return adapters;
}

} // namespace pandel::platform::native
