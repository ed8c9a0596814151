// Reading a small file whole, in as few system calls as the system allows. Compile-time only:
// tests use real files.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace platform {

// The first maxBytes bytes of the regular file at path (UTF-8), or all of it when it is
// shorter. nullopt when it cannot be opened or read, or is not a regular file (a directory, a
// pipe, a device). Opening never waits: a pipe put in the file's place cannot hold the caller.
std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t maxBytes);

} // namespace platform
