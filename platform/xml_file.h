// Reading a few values out of an XML file: the agent's configuration file. Compile-time only:
// each side reads with its own XML reader, tests use real files.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace pandel::platform {

// Loads the XML file at path (synchronously, no validation, nothing fetched from elsewhere)
// and returns, for each XPath expression in order, the text of the first node it selects: the
// concatenated text of the node and all its descendants, entity references replaced, with the
// white space at both ends removed. Stops at the first expression that selects nothing (or
// whose text entity replacement would grow past a few megabytes), so the list is then shorter
// than expressions. nullopt when the file cannot be read (missing, not a
// regular file, larger than kMaxXmlFileBytes) or is not well-formed XML. Prints nothing.
std::optional<std::vector<std::u16string>>
ReadXmlNodeTexts(const std::string& path, const std::vector<std::string>& expressions);

// The text without the XML white space (space, tab, line feed, carriage return) at both ends, as a
// DOM that does not preserve white space gives a node's text. For std::string or std::u16string.
template <typename Text> Text TrimXmlSpace(const Text& text) {
    auto isSpace = [](auto c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && isSpace(text[first]))
        ++first;
    while (last > first && isSpace(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

// Largest XML file ReadXmlNodeTexts loads.
inline constexpr std::size_t kMaxXmlFileBytes = 64u << 20;

} // namespace pandel::platform
