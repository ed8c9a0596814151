// The machine's network adapters and their burned-in (permanent) hardware addresses.
#pragma once

#include "platform/platform.h"

#include <optional>
#include <vector>

namespace pandel::platform::native {

std::optional<std::vector<AdapterAnswer>> QueryAdapterPermanentAddresses();

} // namespace pandel::platform::native
