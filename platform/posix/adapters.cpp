// Adapters on POSIX: placeholder until the ethtool query lands; the list is unavailable.
#include "platform/adapters.h"

namespace platform::native {

std::optional<std::vector<AdapterAnswer>> QueryAdapterPermanentAddresses() {
    return std::nullopt;
}

} // namespace platform::native
