// The HKEY_LOCAL_MACHINE part of the registry: values read, tested and written by key and name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pandel::platform::native {

bool RegistryValueExists(const std::u16string& key, const std::u16string& name);
std::optional<std::vector<std::uint8_t>>
RegistryReadValue(const std::u16string& key, const std::u16string& name, std::size_t maxBytes);
bool RegistryWriteValue(const std::u16string& key, const std::u16string& name,
                        const std::vector<std::uint8_t>& data);

} // namespace pandel::platform::native
