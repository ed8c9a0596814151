// Host name and its IPv4 addresses on Windows: gethostname, gethostbyname and inet_ntoa of
// Windows Sockets.
#include "platform/host.h"

#include "platform/win32/windows_api.h"

#include <cstring>

namespace pandel::platform::native {
namespace {

// The longest host name Windows Sockets gives, with room for its terminator.
constexpr int kHostNameBufferSize = 257;

// Windows Sockets started for one call and stopped after it; the count the system keeps makes
// this harmless when the host or the SOAP runtime has started it already.
class SocketsStarted {
public:
    SocketsStarted() {
        WSADATA data;
        started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~SocketsStarted() {
        if (started_)
            WSACleanup();
    }
    SocketsStarted(const SocketsStarted&) = delete;
    SocketsStarted& operator=(const SocketsStarted&) = delete;
    bool ok() const { return started_; }

private:
    bool started_ = false;
};

} // namespace

std::optional<std::string> HostName() {
    SocketsStarted sockets;
    if (!sockets.ok())
        return std::nullopt;
    char name[kHostNameBufferSize + 1] = {};
    if (gethostname(name, kHostNameBufferSize) != 0)
        return std::nullopt;
    return std::string(name);
}

std::vector<std::string> ResolveIPv4(const std::string& hostName) {
    SocketsStarted sockets;
    if (!sockets.ok())
        return {};
    // The entry lives in storage of this thread until the thread's next resolver call.
    const hostent* entry = gethostbyname(hostName.c_str());
    if (entry == nullptr || entry->h_addrtype != AF_INET ||
        entry->h_length != static_cast<short>(sizeof(in_addr)) || entry->h_addr_list == nullptr)
        return {};
    std::vector<std::string> addresses;
    for (char** item = entry->h_addr_list; *item != nullptr; ++item) {
        in_addr address;
        std::memcpy(&address, *item, sizeof address);
        const char* text = inet_ntoa(address);
        if (text != nullptr)
            addresses.emplace_back(text);
    }
    return addresses;
}

} // namespace pandel::platform::native
