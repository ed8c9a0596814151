// Time on POSIX: the monotonic clock as a 32-bit millisecond count, localtime_r, nanosleep.
#include "platform/clock.h"

#include <cerrno>
#include <ctime>

namespace pandel::platform::native {

std::uint32_t TickCountMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    std::uint64_t ms = std::uint64_t(now.tv_sec) * 1000u + std::uint64_t(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

LocalTime LocalTimeNow() {
    std::time_t now = std::time(nullptr);
    std::tm parts{};
    if (localtime_r(&now, &parts) == nullptr)
        return {};
    return {parts.tm_hour, parts.tm_min, parts.tm_sec};
}

void SleepMs(std::uint32_t ms) {
    timespec rest{static_cast<std::time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
}

} // namespace pandel::platform::native
