// JSON text for the tools' machine-readable output.
#pragma once

#include <string>

namespace pandel::tools {

// Appends text as one JSON string literal: quote and backslash escaped, line feed, carriage
// return and tab by their short forms, every other unit outside printable ASCII as \uXXXX, so
// the output is plain ASCII whatever the text holds.
void AppendJsonString(std::string& out, const std::u16string& text);

} // namespace pandel::tools
