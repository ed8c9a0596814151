// Debugger output on Windows: OutputDebugStringW, the text as it is.
#include "platform/debug_out.h"

#include "platform/win32/windows_api.h"

namespace pandel::platform::native {

void DebugOutput(const std::u16string& text) {
    OutputDebugStringW(win32::Wide(text));
}

} // namespace pandel::platform::native
