// Registry on POSIX: placeholder until the registry stand-in lands; every value is missing.
#include "platform/registry.h"

namespace platform::native {

bool RegistryValueExists(const std::u16string&, const std::u16string&) {
    return false;
}

std::optional<std::vector<std::uint8_t>> RegistryReadValue(const std::u16string&,
                                                           const std::u16string&, std::size_t) {
    return std::nullopt;
}

bool RegistryWriteValue(const std::u16string&, const std::u16string&,
                        const std::vector<std::uint8_t>&) {
    return false;
}

} // namespace platform::native
