// Reading a small file whole, in as few system calls as the system allows, and opening a file to
// append to. Compile-time only: tests use real files.
#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>

namespace pandel::platform {

// The first maxBytes bytes of the regular file at path (UTF-8), or all of it when it is
// shorter. nullopt when it cannot be opened or read, or is not a regular file (a directory, a
// pipe, a device). Opening never waits: a pipe put in the file's place cannot hold the caller.
std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t maxBytes);

// Opens the file at path (UTF-8) for appending in binary mode, created when missing; the stream's
// descriptor is not inherited by programs the process starts. Null when it cannot be opened.
std::FILE* OpenForAppending(const std::string& path);

} // namespace pandel::platform
