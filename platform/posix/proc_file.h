// The kernel's text files under /proc, which have no size to read by: POSIX only.
#pragma once

#include <cstddef>
#include <string>

namespace pandel::platform::native {

// The text of a /proc file up to its end or maxBytes, opened close-on-exec; empty when it cannot
// be opened or read.
std::string ReadProcFile(const std::string& path, std::size_t maxBytes);

} // namespace pandel::platform::native
