// Time on Windows: GetTickCount, GetLocalTime and Sleep.
#include "platform/clock.h"

#include "platform/win32/windows_api.h"

namespace pandel::platform::native {

std::uint32_t TickCountMs() {
    return GetTickCount();
}

LocalTime LocalTimeNow() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return {now.wHour, now.wMinute, now.wSecond};
}

void SleepMs(std::uint32_t ms) {
    // Sleep takes the largest count to mean "for ever".
    if (ms == INFINITE) {
        Sleep(INFINITE - 1);
        ms = 1;
    }
    Sleep(ms);
}

} // namespace pandel::platform::native
