// Named locks on Windows: named auto-reset events, open to every account, used as mutexes.
#include "platform/named_lock.h"

#include "platform/plain_names.h"
#include "platform/wide_text.h"
#include "platform/win32/windows_api.h"

#include <new>

namespace pandel::platform::native {
namespace {

constexpr DWORD kEventFullAccess = EVENT_ALL_ACCESS; // 0x1F0003

// What a lock handle stands for: the event and whether this handle took it. A handle closed
// while it holds the event signals it first, so that a holder that forgets to release cannot
// leave every other process waiting for good.
struct NamedEvent {
    HANDLE event = nullptr;
    bool held = false;
};

NamedEvent* FromHandle(LockHandle lock) {
    return lock == kNoLock ? nullptr : reinterpret_cast<NamedEvent*>(lock);
}

// The existing event, or a new one in the free state with a null DACL (full access for every
// account) and an inheritable handle. A creation that meets an event made by another process
// since the open yields that event, its state unchanged.
HANDLE OpenOrCreateEvent(const std::u16string& name) {
    HANDLE event = OpenEventW(kEventFullAccess, FALSE, win32::Wide(name));
    if (event != nullptr)
        return event;
    SECURITY_DESCRIPTOR descriptor;
    if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE))
        return nullptr;
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = &descriptor;
    attributes.bInheritHandle = TRUE;
    return CreateEventW(&attributes, FALSE /* auto-reset */, TRUE /* signalled */,
                        win32::Wide(name));
}

} // namespace

LockHandle OpenNamedLock(const std::u16string& name) {
    if (!IsPlainLockName(name))
        return kNoLock;
    HANDLE event = OpenOrCreateEvent(name);
    if (event == nullptr)
        return kNoLock;
    auto* lock = new (std::nothrow) NamedEvent{event, false};
    if (lock == nullptr) {
        CloseHandle(event);
        return kNoLock;
    }
    return reinterpret_cast<LockHandle>(lock);
}

bool WaitNamedLock(LockHandle handle) {
    NamedEvent* lock = FromHandle(handle);
    if (lock == nullptr)
        return false;
    if (WaitForSingleObject(lock->event, INFINITE) != WAIT_OBJECT_0)
        return false;
    lock->held = true;
    return true;
}

// Only the holder signals: a handle that never took the event must not free it for others
// while somebody else is working under it.
void SignalNamedLock(LockHandle handle) {
    NamedEvent* lock = FromHandle(handle);
    if (lock == nullptr || !lock->held)
        return;
    lock->held = false;
    SetEvent(lock->event);
}

void CloseNamedLock(LockHandle handle) {
    NamedEvent* lock = FromHandle(handle);
    if (lock == nullptr)
        return;
    SignalNamedLock(handle);
    CloseHandle(lock->event);
    delete lock;
}

std::string NamedLockPlace(const std::u16string& name) {
    return "event " + Utf16ToUtf8(name);
}

// An event does not say who last took it.
std::vector<LockHolder> NamedLockHolders(const std::u16string&) {
    return {};
}

NamedLockState ProbeNamedLock(const std::u16string& name) {
    NamedEvent* lock = FromHandle(OpenNamedLock(name));
    if (lock == nullptr)
        return NamedLockState::Unusable;
    const DWORD waited = WaitForSingleObject(lock->event, 0);
    if (waited == WAIT_OBJECT_0)
        lock->held = true;
    CloseNamedLock(reinterpret_cast<LockHandle>(lock));
    if (waited == WAIT_OBJECT_0)
        return NamedLockState::Free;
    return waited == WAIT_TIMEOUT ? NamedLockState::Held : NamedLockState::Unusable;
}

} // namespace pandel::platform::native
