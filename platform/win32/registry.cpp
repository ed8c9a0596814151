// Registry on Windows: values of keys under HKEY_LOCAL_MACHINE, read, tested and written with the
// registry calls themselves.
#include "platform/registry.h"

#include "platform/plain_names.h"
#include "platform/win32/windows_api.h"

#include <new>

namespace pandel::platform::native {
namespace {

// The value's size may change between the size query and the read; a few tries settle it.
constexpr int kReadTries = 4;

class OpenKey {
public:
    OpenKey() = default;
    ~OpenKey() {
        if (key_ != nullptr)
            RegCloseKey(key_);
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;

    // Opens the key for query only; a missing key stays missing.
    bool Open(const std::u16string& path, REGSAM access) {
        return RegOpenKeyExW(HKEY_LOCAL_MACHINE, win32::Wide(path), 0, access, &key_) ==
               ERROR_SUCCESS;
    }
    // Opens the key, creating it and its missing parents.
    bool Create(const std::u16string& path, REGSAM access) {
        return RegCreateKeyExW(HKEY_LOCAL_MACHINE, win32::Wide(path), 0, nullptr, 0, access,
                               nullptr, &key_, nullptr) == ERROR_SUCCESS;
    }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

} // namespace

bool RegistryValueExists(const std::u16string& key, const std::u16string& name) {
    if (!IsPlainKeyPath(key) || !IsPlainName(name))
        return false;
    OpenKey open;
    if (!open.Open(key, KEY_QUERY_VALUE))
        return false;
    return RegQueryValueExW(open.get(), win32::Wide(name), nullptr, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
}

std::optional<std::vector<std::uint8_t>>
RegistryReadValue(const std::u16string& key, const std::u16string& name, std::size_t maxBytes) {
    if (!IsPlainKeyPath(key) || !IsPlainName(name))
        return std::nullopt;
    OpenKey open;
    if (!open.Create(key, KEY_READ))
        return std::nullopt;
    try {
        for (int attempt = 0; attempt < kReadTries; ++attempt) {
            DWORD size = 0;
            if (RegQueryValueExW(open.get(), win32::Wide(name), nullptr, nullptr, nullptr, &size) !=
                    ERROR_SUCCESS ||
                size > maxBytes)
                return std::nullopt;
            // One byte more than the value holds: a value grown since the size query is seen
            // as grown, not taken cut short.
            std::vector<std::uint8_t> data(static_cast<std::size_t>(size) + 1);
            DWORD read = size + 1;
            const LSTATUS status = RegQueryValueExW(open.get(), win32::Wide(name), nullptr, nullptr,
                                                    data.data(), &read);
            if (status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && read > size))
                continue;
            if (status != ERROR_SUCCESS)
                return std::nullopt;
            data.resize(read);
            return data;
        }
    } catch (const std::bad_alloc&) {
    }
    return std::nullopt;
}

bool RegistryWriteValue(const std::u16string& key, const std::u16string& name,
                        const std::vector<std::uint8_t>& data) {
    if (!IsPlainKeyPath(key) || !IsPlainName(name) || data.size() > MAXDWORD)
        return false;
    OpenKey open;
    if (!open.Create(key, KEY_WRITE))
        return false;
    static const BYTE kNoData = 0;
    const BYTE* bytes = data.empty() ? &kNoData : data.data();
    return RegSetValueExW(open.get(), win32::Wide(name), 0, REG_BINARY, bytes,
                          static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
}

} // namespace pandel::platform::native
