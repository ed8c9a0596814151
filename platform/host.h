// The machine's host name and the IPv4 addresses the resolver gives for it.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pandel::platform::native {

std::optional<std::string> HostName();
std::vector<std::string> ResolveIPv4(const std::string& hostName);

} // namespace pandel::platform::native
