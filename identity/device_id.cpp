// The device identity: selection of the lowest permanent address, the alias table that keeps the
// identity through adapter changes, and the module-wide cache.
#include "identity/device_id.h"

#include "platform/platform.h"
#include "platform/wide_text.h"

#include <algorithm>
#include <string>
#include <vector>

namespace pandel {
namespace {

using platform::HardwareAddress;

// The adapter's device path is formed in a buffer of this many characters, terminator included;
// an adapter whose path does not fit is skipped rather than cut into some other name.
constexpr std::size_t kDevicePathBufferSize = 130;
constexpr std::u16string_view kDevicePathPrefix = u"//./";

bool DevicePathFits(const std::string& adapterName) {
    return kDevicePathPrefix.size() + platform::Utf8ToUtf16(adapterName).size() <
           kDevicePathBufferSize;
}

// Copies text and its terminator into buffer, never more than capacity characters in all.
void CopyText(const std::u16string& text, char16_t* buffer, std::size_t capacity) {
    std::size_t length = std::min(text.size(), capacity - 1);
    std::copy_n(text.data(), length, buffer);
    buffer[length] = u'\0';
}

} // namespace

std::u16string IdentityText(const HardwareAddress& address) {
    static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
    std::u16string text;
    for (std::uint8_t byte : address) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

std::int32_t ComputeDeviceId(char16_t* buffer) {
    platform::IPlatform& os = platform::Current();
    std::optional<std::vector<platform::AdapterAnswer>> adapters =
        os.QueryAdapterPermanentAddresses();
    if (!adapters || adapters->empty())
        return -1;

    // No answer at all leaves the best address all zero, and that is the identity looked up.
    HardwareAddress best{};
    bool haveBest = false;
    std::vector<std::u16string> others;
    for (const platform::AdapterAnswer& adapter : *adapters) {
        if (!DevicePathFits(adapter.name) || !adapter.permanentAddress)
            continue;
        const HardwareAddress& answer = *adapter.permanentAddress;
        if (!haveBest) {
            best = answer;
            haveBest = true;
            continue;
        }
        if (answer < best) {
            others.push_back(IdentityText(best));
            best = answer;
            continue;
        }
        others.push_back(IdentityText(answer));
    }

    std::optional<std::vector<std::uint8_t>> alias =
        os.RegistryReadValue(kAliasTableKey, IdentityText(best), best.size());
    if (alias)
        std::copy_n(alias->begin(), std::min(alias->size(), best.size()), best.begin());

    CopyText(IdentityText(best), buffer, kDeviceIdComputeBufferSize);

    const std::vector<std::uint8_t> identityBytes(best.begin(), best.end());
    for (const std::u16string& other : others)
        os.RegistryWriteValue(kAliasTableKey, other, identityBytes);
    return 0;
}

std::int32_t DeviceIdentity::Get(char16_t* buffer) {
    if (cache_[0] == u'\0') {
        char16_t computed[kDeviceIdComputeBufferSize] = {};
        if (ComputeDeviceId(computed) == 0)
            CopyText(computed, cache_, kDeviceIdCacheSize);
    }
    CopyText(cache_, buffer, kDeviceIdMinimumBufferSize);
    return 1;
}

std::int32_t GetDeviceId(char16_t* buffer) {
    static DeviceIdentity identity;
    return identity.Get(buffer);
}

} // namespace pandel
