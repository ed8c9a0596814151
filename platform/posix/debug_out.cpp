// Debugger output on POSIX: standard error, one line per message.
#include "platform/debug_out.h"

#include "platform/wide_text.h"

#include <unistd.h>

namespace pandel::platform::native {

void DebugOutput(const std::u16string& text) {
    std::string line = Utf16ToUtf8(text);
    if (line.empty() || line.back() != '\n')
        line += '\n';
    const char* p = line.data();
    size_t left = line.size();
    while (left > 0) {
        ssize_t n = write(STDERR_FILENO, p, left);
        if (n <= 0)
            return;
        p += n;
        left -= static_cast<size_t>(n);
    }
}

} // namespace pandel::platform::native
