// The terminal's identity: 12 uppercase hex digits of a permanent MAC address, chosen by a fixed
// rule and kept stable through an alias table in the registry.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pandel {

inline constexpr std::size_t kDeviceIdComputeBufferSize = 260; // ComputeDeviceId's buffer
inline constexpr std::size_t kDeviceIdMinimumBufferSize = 13;  // 12 digits and the terminator

// Copies the identity (computed once per process, on first success) with its terminator into
// buffer, which holds at least kDeviceIdMinimumBufferSize characters; the empty string when it
// cannot be computed. Always returns 1.
std::int32_t GetDeviceId(char16_t* buffer);

// Computes the identity into buffer (kDeviceIdComputeBufferSize characters): 0 when written, -1
// when the adapter list cannot be obtained (buffer untouched).
std::int32_t ComputeDeviceId(char16_t* buffer);

} // namespace pandel
