// Time: the millisecond tick count, the local time of day, and sleeping.
#pragma once

#include "platform/platform.h"

#include <cstdint>

namespace pandel::platform::native {

std::uint32_t TickCountMs();
LocalTime LocalTimeNow();
void SleepMs(std::uint32_t ms);

} // namespace pandel::platform::native
