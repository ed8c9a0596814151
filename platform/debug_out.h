// The debugger output channel, where messages go when nothing else can take them.
#pragma once

#include <string>

namespace platform::native {

void DebugOutput(const std::u16string& text);

} // namespace platform::native
