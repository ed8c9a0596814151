// The host's command object for hosts built with GCC: the command's name comes as a
// std::u16string (see pandel/host_interfaces.h for the three interfaces).
#pragma once

#include "pandel/host_interfaces.h"

#include <string>

namespace pandel {

class IHostCommand : public BasicHostCommand<std::u16string> {};

} // namespace pandel
