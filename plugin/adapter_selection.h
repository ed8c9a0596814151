// The choice of network adapter for the imaging library: with two adapters, the second is
// switched off while the management server is probed through what remains.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace pandel {

inline constexpr std::int32_t kFirstAdapter = 1;
inline constexpr std::int32_t kSecondAdapter = 2;
inline constexpr int kMaxProbes = 10;
inline constexpr std::uint32_t kSettleAfterOffMs = 1500;
inline constexpr std::uint32_t kPauseBetweenProbesMs = 1000;
inline constexpr std::uint32_t kSettleAfterOnMs = 3000;
inline constexpr std::size_t kProbeDeviceIdSize = 40; // wide characters, zero-filled

// The reachability document before the identity is set.
inline constexpr const char16_t* kProbeTemplate =
    u"<?xml version=\"1.0\" encoding=\"UTF-8\" ?><Root />";

// The imaging library's adapter functions as the selection calls them.
struct AdapterControl {
    std::function<std::int32_t(std::int32_t* count)> getAdapterCount;
    std::function<std::int32_t(std::int32_t adapter, std::int32_t enable)> enableAdapter;
};

// With exactly two adapters: adapter 2 off, kSettleAfterOffMs, up to kMaxProbes probes with
// kPauseBetweenProbesMs between them, adapter 2 on, kSettleAfterOnMs; 1 when a probe returned 1,
// else 2. Any other count gives 1 at once. Waits through the platform's SleepMs. Should a probe
// throw, adapter 2 is switched on again before the exception goes on.
std::int32_t SelectAdapterWith(const AdapterControl& control,
                               const std::function<std::int32_t()>& probe);

// What a probe works with; the real ones unless a test gives others.
struct ProbeServices {
    std::function<std::int32_t(std::u16string& url)> getServerUrl;
    std::function<std::int32_t(char16_t* buffer)> getDeviceId;
    std::function<int(const char* url, const char16_t* report, std::int32_t* result)> sendReport;
};

// The agent configuration's service URL, the module-wide identity and the report sender.
ProbeServices RealProbeServices();

// Sends the reachability document, <Root ID="identity"/>, to the service URL read afresh. 1 when
// the sender returned 0; 0 when it did not, when the URL is empty, or when the URL is not ASCII
// or too long for the narrow buffer (nothing sent then).
std::int32_t ProbeServerWith(const ProbeServices& services);

// ProbeServerWith the real services.
std::int32_t ProbeServer();

// SelectAdapterWith the imaging library's functions and ProbeServer; 1 when the imaging library
// cannot be loaded.
std::int32_t SelectAdapter();

} // namespace pandel
