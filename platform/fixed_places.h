// The machine's fixed places (drive C:, the registry, the named locks) and where they live here.
#pragma once

#include <string>

namespace pandel::platform::native {

// The directory that stands in for the machine's fixed places: $PANDEL_ROOT, else
// kDefaultRoot. Read afresh on every call. Without a trailing separator.
std::string RootDirectory();

// Native path of a fixed place given by its Windows path, such as "C:\\runtime.log".
std::string FixedPlacePath(const std::string& windowsPath);

// The separator between a directory and a name inside it.
extern const char kPathSeparator;

} // namespace pandel::platform::native
