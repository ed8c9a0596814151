// Fixed places on Windows: each one is itself ("C:\runtime.log" is that file).
#include "platform/fixed_places.h"

namespace pandel::platform::native {

const char kPathSeparator = '\\';

// Nothing stands in for the machine's places here: they are found at their own paths.
std::string RootDirectory() {
    return {};
}

std::string FixedPlacePath(const std::string& windowsPath) {
    return windowsPath;
}

} // namespace pandel::platform::native
