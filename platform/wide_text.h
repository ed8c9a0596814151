// The module's one home for converting its UTF-16 text to and from UTF-8. Portable code.
#pragma once

#include <string>
#include <string_view>

namespace pandel::platform {

// UTF-16 to UTF-8. A lone surrogate becomes U+FFFD; a valid pair becomes one 4-byte sequence.
std::string Utf16ToUtf8(std::u16string_view text);
// The same into *converted, whose room is reused (converted texts that come one after another).
void Utf16ToUtf8(std::u16string_view text, std::string* converted);

// UTF-8 to UTF-16. Every byte that does not begin a complete, shortest-form sequence of a
// scalar value becomes U+FFFD; characters beyond U+FFFF become surrogate pairs.
std::u16string Utf8ToUtf16(std::string_view text);

} // namespace pandel::platform
