// Named locks that serialise a piece of work across every process of the machine.
#pragma once

#include "platform/platform.h"

#include <string>
#include <vector>

namespace pandel::platform::native {

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

// A process that holds a named lock.
struct LockHolder {
    long processId = 0;
    std::string command; // its command line, arguments separated by blanks; empty when unknown
};

// The processes that hold the lock of that name now, as the system lists them (the kernel's
// table of file locks on Linux); empty when nobody does or the system cannot tell (Windows).
std::vector<LockHolder> NamedLockHolders(const std::u16string& name);

// Where the lock of that name lives, for people: a file path, or the event's name.
std::string NamedLockPlace(const std::u16string& name);

} // namespace pandel::platform::native
