// Host name on POSIX: placeholder until the resolver lands; nothing is known.
#include "platform/host.h"

namespace platform::native {

std::optional<std::string> HostName() {
    return std::nullopt;
}
std::vector<std::string> ResolveIPv4(const std::string&) {
    return {};
}

} // namespace platform::native
