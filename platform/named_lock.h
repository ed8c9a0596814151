// Named locks that serialise a piece of work across every process of the machine.
#pragma once

#include "platform/platform.h"

#include <string>

namespace platform::native {

LockHandle OpenNamedLock(const std::u16string& name);
bool WaitNamedLock(LockHandle lock);
void SignalNamedLock(LockHandle lock);
void CloseNamedLock(LockHandle lock);

} // namespace platform::native
