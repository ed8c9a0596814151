// Where the process's code lives: the host executable and the shared libraries it has loaded.
#pragma once

#include <string>

namespace pandel::platform::native {

// Full path of the loaded shared library whose file name is fileName; empty when not loaded.
std::string LoadedLibraryPath(const std::string& fileName);

// Full path of the running executable; empty when it cannot be obtained.
std::string HostExecutablePath();

} // namespace pandel::platform::native
