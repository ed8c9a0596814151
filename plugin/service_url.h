// The service URL in the narrow form that the report sender takes.
#pragma once

#include <cstddef>
#include <string>

namespace pandel {

inline constexpr std::size_t kServiceUrlBufferSize = 260;

// Zero-fills buffer and converts url into it. A URL that has characters outside ASCII, or whose
// narrow form does not fit with its terminator, leaves the buffer empty: it is never cut into
// another address. Returns whether the buffer holds the URL.
bool ToNarrowServiceUrl(const std::u16string& url, char (&buffer)[kServiceUrlBufferSize]);

} // namespace pandel
