// The processor's half of the fault translation (fault_x86_64.cpp, fault_i686.cpp): how a fault
// is redirected into the thunk that throws, how it is resumed when it must pass, and how a
// throw from it is known to be taken.
#pragma once

#include "platform/win32/windows_api.h"

namespace pandel::platform::win32 {

// In the exception handler, before the fault is redirected: false when an exception thrown at
// the fault would certainly not be taken (the system's own handling comes first, or GCC would
// end the program there). May answer true and leave the rest to ThrowFromFaultIsTaken.
bool FaultMayBeThrown(const CONTEXT& atFault);

// On the faulting thread, in the thunk, before the translator is called: whether the exception
// it throws reaches a frame of GCC code that takes it (a catch or a cleanup).
bool ThrowFromFaultIsTaken(const CONTEXT& atFault);

// Changes context so that the thread continues in the thunk, entered as if the faulting
// instruction had called it; the thunk calls pandel_raise_pending_fault.
void EnterThunk(CONTEXT& context);

// The part of a fault's context that ResumeAt needs, kept when the fault is redirected.
void KeepForResume(CONTEXT& kept);

// Continues the thread in context; returns only when the system refuses it.
void ResumeAt(CONTEXT& context);

} // namespace pandel::platform::win32

// Runs on the faulting thread as the thunk's callee; throws the translator's exception.
extern "C" [[noreturn]] void pandel_raise_pending_fault();
