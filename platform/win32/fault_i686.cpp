// The fault translation on i686. This toolchain unwinds with DWARF-2 tables, read by GCC's
// unwinder from the tables registered with it; the system knows nothing of them. So the
// exception handler redirects every candidate fault into the thunk, and there, on the faulting
// thread, a trial walk with GCC's unwinder finds whether the exception would be taken: if not,
// the fault is resumed and passes on unseen.
#include "platform/win32/fault_processor.h"
#include "platform/win32/gcc_tables.h"

#include <unwind.h>

#include <cstdint>

extern "C" NTSYSAPI LONG NTAPI NtContinue(PCONTEXT context, BOOLEAN testAlert); // an NTSTATUS
extern "C" void pandel_fault_entry();

namespace pandel::platform::win32 {
namespace {

constexpr DWORD kAlignmentCheckFlag = 0x40000;  // EFLAGS.AC
constexpr DWORD kX87PendingExceptions = 0x80FF; // busy, summary and the exception flags
constexpr int kMaxFramesSearched = 1024;
// What a resumed fault gets back: the registers, the x87 and the SSE state.
constexpr DWORD kResumedState = CONTEXT_FULL | CONTEXT_FLOATING_POINT | CONTEXT_EXTENDED_REGISTERS;

struct TrialWalk {
    std::uintptr_t faultReturn; // the address the thunk returns to: the fault + 1
    bool atFault = false;       // the walk has reached the faulting frame
    bool taken = false;
    int frames = 0;
};

// One frame of the trial walk. Frames above the faulting one (the walk's own, the thunk's) are
// passed over; from the faulting frame upwards the first frame whose call-site table covers
// its place decides, as GCC's personality routine would.
_Unwind_Reason_Code VisitFrame(_Unwind_Context* context, void* argument) {
    auto* walk = static_cast<TrialWalk*>(argument);
    if (++walk->frames > kMaxFramesSearched)
        return _URC_END_OF_STACK;
    int beforeInstruction = 0;
    const std::uintptr_t ip = _Unwind_GetIPInfo(context, &beforeInstruction);
    if (!walk->atFault) {
        walk->atFault = ip == walk->faultReturn;
        if (!walk->atFault)
            return _URC_NO_REASON;
    }
    const void* lsda = _Unwind_GetLanguageSpecificData(context);
    if (lsda == nullptr)
        return _URC_NO_REASON;
    const std::uintptr_t place = beforeInstruction != 0 ? ip : ip - 1;
    switch (FindCallSite(lsda, _Unwind_GetRegionStart(context), place)) {
    case CallSite::kLandingPad:
        walk->taken = true;
        return _URC_END_OF_STACK;
    case CallSite::kNoLandingPad:
        return _URC_NO_REASON;
    case CallSite::kNotCovered:
    case CallSite::kUnknown:
        return _URC_END_OF_STACK;
    }
    return _URC_END_OF_STACK;
}

} // namespace

bool FaultMayBeThrown(const CONTEXT&) {
    return true; // decided in the thunk, where GCC's unwinder can walk the faulting stack
}

bool ThrowFromFaultIsTaken(const CONTEXT& atFault) {
    // A frame that GCC's unwinder has no tables for (the system's code, another compiler's)
    // ends the walk: the exception would end the program there.
    TrialWalk walk{atFault.Eip + 1};
    _Unwind_Backtrace(VisitFrame, &walk);
    return walk.taken;
}

void EnterThunk(CONTEXT& context) {
    // ECX is free: the frame that takes the exception expects nothing of it.
    context.Ecx = context.Eip + 1;
    context.Eip = reinterpret_cast<DWORD>(&pandel_fault_entry);
    // The faulting code's alignment checking and pending x87 exceptions must not strike the
    // thunk and the unwinder.
    context.EFlags &= ~kAlignmentCheckFlag;
    context.FloatSave.StatusWord &= ~kX87PendingExceptions;
}

void KeepForResume(CONTEXT& kept) {
    kept.ContextFlags &= kResumedState;
}

void ResumeAt(CONTEXT& context) {
    NtContinue(&context, FALSE);
}

} // namespace pandel::platform::win32

// The entry pushes the fault address + 1 (left in ECX) as if the faulting instruction had called
// the thunk; the thunk keeps a frame pointer, described to GCC's unwinder, and aligns the stack
// for the call.
asm(R"(
    .text
    .p2align 4
_pandel_fault_entry:
    pushl %ecx
    jmp _pandel_fault_thunk
    .p2align 4
_pandel_fault_thunk:
    .cfi_startproc
    pushl %ebp
    .cfi_def_cfa_offset 8
    .cfi_offset %ebp, -8
    movl %esp, %ebp
    .cfi_def_cfa_register %ebp
    andl $-16, %esp
    call _pandel_raise_pending_fault
    int3
    .cfi_endproc
)");
