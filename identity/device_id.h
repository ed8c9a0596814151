// The terminal's identity: 12 uppercase hex digits of a permanent MAC address, chosen by a fixed
// rule and kept stable through an alias table in the registry.
#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace pandel {

inline constexpr std::size_t kDeviceIdComputeBufferSize = 260; // ComputeDeviceId's buffer
inline constexpr std::size_t kDeviceIdMinimumBufferSize = 13;  // 12 digits and the terminator
inline constexpr std::size_t kDeviceIdCacheSize = 32;

// HKEY_LOCAL_MACHINE key of the alias table: value name = an adapter address's identity text,
// data = the 6 bytes of the identity it stands for.
inline constexpr const char16_t* kAliasTableKey = u"Software\\Orvane\\Tessaly2009";

// The identity text of an address: its 6 bytes as 12 uppercase hexadecimal digits.
std::u16string IdentityText(const platform::HardwareAddress& address);

// Computes the identity into buffer (kDeviceIdComputeBufferSize characters): the lowest permanent
// address that answers (twelve zeros when none does), replaced by its alias when the table has
// one; every other address seen is recorded as an alias of the result. Returns 0 when written,
// -1 when the adapter list cannot be obtained or is empty (buffer untouched). Registry failures
// are silent.
std::int32_t ComputeDeviceId(char16_t* buffer);

// An identity cache: empty until the first successful computation, then fixed.
class DeviceIdentity {
public:
    // Copies the cached identity with its terminator into buffer (at least
    // kDeviceIdMinimumBufferSize characters), computing it first while the cache is empty; the
    // empty string when it cannot be computed (the next call tries again). Always returns 1.
    std::int32_t Get(char16_t* buffer);

private:
    char16_t cache_[kDeviceIdCacheSize] = {};
};

// The module-wide identity: DeviceIdentity::Get on the one instance that lives as long as the
// module.
std::int32_t GetDeviceId(char16_t* buffer);

} // namespace pandel
