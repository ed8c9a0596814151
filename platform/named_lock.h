// Named locks that serialise a piece of work across every process of the machine.
#pragma once

#include "platform/platform.h"

#include <string>

namespace platform::native {

LockHandle OpenNamedLock(const std::u16string& name);
bool WaitNamedLock(LockHandle lock);
void SignalNamedLock(LockHandle lock);
void CloseNamedLock(LockHandle lock);

// What a named lock is like at this moment.
enum class NamedLockState {
    Free,     // nobody holds it
    Held,     // another holder has it: a wait for it blocks until that holder lets go
    Unusable, // it cannot be had at all; work it guards runs unguarded
};

// Opens the lock as OpenNamedLock does, tries it once without waiting and lets it go again.
NamedLockState ProbeNamedLock(const std::u16string& name);

// Where the lock of that name lives, for people: a file path, or the event's name.
std::string NamedLockPlace(const std::u16string& name);

} // namespace platform::native
