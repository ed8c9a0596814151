// Named locks on POSIX: placeholder until flock-based locks land; no lock can be had.
#include "platform/named_lock.h"

namespace platform::native {

LockHandle OpenNamedLock(const std::u16string&) {
    return kNoLock;
}
bool WaitNamedLock(LockHandle) {
    return false;
}
void SignalNamedLock(LockHandle) {}
void CloseNamedLock(LockHandle) {}

} // namespace platform::native
