// The fault translation on x86-64: the system's unwind tables show beforehand, in the exception
// handler, whether the exception thrown at a fault reaches a frame of GCC code that takes it;
// the thunk then throws with GCC's own tables, which unwind through any module.
#include "platform/win32/fault_processor.h"
#include "platform/win32/gcc_tables.h"

#include <cstdint>
#include <cstring>

extern "C" EXCEPTION_DISPOSITION __gxx_personality_seh0(PEXCEPTION_RECORD, void*, PCONTEXT,
                                                        PDISPATCHER_CONTEXT);
extern "C" void pandel_fault_entry();

namespace pandel::platform::win32 {
namespace {

constexpr DWORD kAlignmentCheckFlag = 0x40000; // EFLAGS.AC
constexpr WORD kX87PendingExceptions = 0x80FF; // busy, summary and the exception flags
constexpr int kMaxFramesSearched = 1024;

// A function reached through an import stub (jmp [rip+disp32]) is the function it jumps to.
const void* Resolved(const void* code) {
    const auto* bytes = static_cast<const unsigned char*>(code);
    if (bytes[0] != 0xFF || bytes[1] != 0x25)
        return code;
    std::int32_t displacement;
    std::memcpy(&displacement, bytes + 2, sizeof displacement);
    const void* target;
    std::memcpy(&target, bytes + 6 + displacement, sizeof target);
    return target;
}

// GCC's personality routine as this toolchain builds it. Every module links a copy of its own;
// the copies differ only in the two displacements (0 here), to the routine's C++ part and to
// the common handler.
constexpr unsigned char kPersonalityCode[] = {
    0x48, 0x83, 0xEC, 0x38,                   // sub rsp, 0x38
    0x48, 0x8D, 0x05, 0x00, 0x00, 0x00, 0x00, // lea rax, [rip + C++ part]
    0x48, 0x89, 0x44, 0x24, 0x20,             // mov [rsp + 0x20], rax
    0xE8, 0x00, 0x00, 0x00, 0x00,             // call the common handler
    0x48, 0x83, 0xC4, 0x38,                   // add rsp, 0x38
    0xC3,                                     // ret
};
constexpr std::size_t kDisplacements[] = {7, 17};

bool IsPersonalityCopy(const void* code) {
    unsigned char bytes[sizeof kPersonalityCode];
    std::memcpy(bytes, code, sizeof bytes);
    for (std::size_t at : kDisplacements)
        std::memset(bytes + at, 0, 4);
    return std::memcmp(bytes, kPersonalityCode, sizeof bytes) == 0;
}

// True for GCC's C++ personality routine, ours or another module's copy of it.
bool IsGccHandler(const void* handler) {
    static const void* const ours =
        Resolved(reinterpret_cast<const void*>(&__gxx_personality_seh0));
    static const bool oursHasTheKnownForm = IsPersonalityCopy(ours);
    const void* candidate = Resolved(handler);
    return candidate == ours || (oursHasTheKnownForm && IsPersonalityCopy(candidate));
}

// Wine's own code keeps its handlers in a chain of frames on the stack, which starts in the
// thread's information block; its dispatcher calls one when unwinding a frame without a handler
// has passed it. Windows itself leaves the chain empty on x64.
DWORD64 FirstChainedHandlerFrame(ULONG_PTR stackLow, ULONG_PTR stackHigh) {
    DWORD64 frame = 0;
    __asm__("movq %%gs:0, %0" : "=r"(frame));
    return frame >= stackLow && frame < stackHigh ? frame : 0;
}

// Whether the exception that the thunk would throw reaches a frame of GCC code that takes it:
// the frames from the fault upwards are unwound on a copy of the context, as the system's
// dispatcher will unwind them, until the first frame with a handler. A handler other than GCC's
// (the system's own exception handling) keeps the fault. So does a GCC frame whose tables do
// not cover the place, where throwing would end the program instead.
bool ReachesGccFrame(const CONTEXT& atFault) {
    ULONG_PTR stackLow = 0;
    ULONG_PTR stackHigh = 0;
    GetCurrentThreadStackLimits(&stackLow, &stackHigh);
    const DWORD64 chained = FirstChainedHandlerFrame(stackLow, stackHigh);
    CONTEXT context = atFault;
    // The thunk is entered with the fault address + 1 as its return address: that is the
    // faulting frame's place for the dispatcher, and ip - 1 the one its tables are read at.
    context.Rip += 1;
    for (int depth = 0; depth < kMaxFramesSearched; ++depth) {
        const DWORD64 pc = context.Rip;
        if (pc == 0 || context.Rsp < stackLow || context.Rsp >= stackHigh)
            return false;
        DWORD64 imageBase = 0;
        PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(pc, &imageBase, nullptr);
        if (function == nullptr) {
            // A leaf function: its return address is on the top of the stack.
            if (context.Rsp + sizeof(DWORD64) > stackHigh)
                return false;
            std::memcpy(&context.Rip, reinterpret_cast<const void*>(context.Rsp), sizeof(DWORD64));
            context.Rsp += sizeof(DWORD64);
            if (chained != 0 && chained < context.Rsp)
                return false;
            continue;
        }
        void* handlerData = nullptr;
        DWORD64 establisherFrame = 0;
        const DWORD64 rspBefore = context.Rsp;
        PEXCEPTION_ROUTINE handler =
            RtlVirtualUnwind(UNW_FLAG_EHANDLER, imageBase, pc, function, &context, &handlerData,
                             &establisherFrame, nullptr);
        if (handler == nullptr && chained != 0 && chained < context.Rsp)
            return false;
        if (handler != nullptr) {
            if (!IsGccHandler(reinterpret_cast<const void*>(handler)))
                return false;
            switch (FindCallSite(handlerData, imageBase + function->BeginAddress, pc - 1)) {
            case CallSite::kLandingPad:
                return true;
            case CallSite::kNoLandingPad:
                break;
            case CallSite::kNotCovered:
            case CallSite::kUnknown:
                return false;
            }
        }
        if (context.Rsp <= rspBefore)
            return false; // no progress: a damaged stack
    }
    return false;
}

} // namespace

bool FaultMayBeThrown(const CONTEXT& atFault) {
    return ReachesGccFrame(atFault);
}

bool ThrowFromFaultIsTaken(const CONTEXT&) {
    return true; // FaultMayBeThrown has walked the frames already
}

void EnterThunk(CONTEXT& context) {
    context.R11 = context.Rip + 1;
    context.Rip = reinterpret_cast<DWORD64>(&pandel_fault_entry);
    // The faulting code's alignment checking and pending x87 exceptions must not strike the
    // thunk and the unwinder.
    context.EFlags &= ~kAlignmentCheckFlag;
    context.FltSave.StatusWord &= static_cast<WORD>(~kX87PendingExceptions);
}

void KeepForResume(CONTEXT& kept) {
    // The extended processor state lives beyond the record, where a copy does not reach.
    kept.ContextFlags = CONTEXT_FULL;
}

void ResumeAt(CONTEXT& context) {
    RtlRestoreContext(&context, nullptr);
}

} // namespace pandel::platform::win32

// The entry pushes the fault address + 1 (left in r11, a scratch register) as if the faulting
// instruction had called the thunk. The thunk keeps a frame pointer, so that its unwinding
// does not depend on the faulting code's stack alignment, which it then restores to the ABI's.
asm(R"(
    .text
    .p2align 4
pandel_fault_entry:
    pushq %r11
    jmp pandel_fault_thunk
    .p2align 4
    .seh_proc pandel_fault_thunk
pandel_fault_thunk:
    pushq %rbp
    .seh_pushreg %rbp
    movq %rsp, %rbp
    .seh_setframe %rbp, 0
    .seh_endprologue
    andq $-16, %rsp
    subq $32, %rsp
    call pandel_raise_pending_fault
    int3
    .seh_endproc
)");
