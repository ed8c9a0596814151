// Fixed places on POSIX: everything lives under $PANDEL_ROOT (default kDefaultRoot).
#include "platform/fixed_places.h"

#include <cstdlib>

namespace pandel::platform::native {
namespace {

constexpr const char* kRootVariable = "PANDEL_ROOT";
constexpr const char* kDefaultRoot = "/var/lib/pandel";

} // namespace

const char kPathSeparator = '/';

std::string RootDirectory() {
    const char* root = std::getenv(kRootVariable);
    std::string dir = (root != nullptr && root[0] != '\0') ? root : kDefaultRoot;
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir;
}

// "C:\runtime.log" becomes <root>/C/runtime.log: the drive letter is a directory, '\' is '/'.
std::string FixedPlacePath(const std::string& windowsPath) {
    std::string path = RootDirectory();
    path += '/';
    for (char c : windowsPath) {
        if (c == ':')
            continue;
        path += (c == '\\') ? '/' : c;
    }
    return path;
}

} // namespace pandel::platform::native
