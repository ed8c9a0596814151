// The debugger output channel, where messages go when nothing else can take them.
#pragma once

#include <string>

namespace pandel::platform::native {

void DebugOutput(const std::u16string& text);

} // namespace pandel::platform::native
