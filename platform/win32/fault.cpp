// Processor faults on Windows: a vectored exception handler sends a fault on a thread that has a
// translator into a small thunk, entered as if the faulting instruction had called it, which
// calls the translator; its exception then unwinds from the fault with GCC's own tables. The
// module is built with -fnon-call-exceptions, so that faulting instructions are covered there.
#include "platform/fault.h"

#include "platform/win32/windows_api.h"

#include <atomic>
#include <cstring>

extern "C" EXCEPTION_DISPOSITION __gxx_personality_seh0(PEXCEPTION_RECORD, void*, PCONTEXT,
                                                        PDISPATCHER_CONTEXT);

namespace platform {
namespace {

// Exception codes of faults that have no name in the header.
constexpr std::uint32_t kFloatDenormalOperand = 0xC000008Du;
constexpr std::uint32_t kFloatStackCheck = 0xC0000092u;
constexpr std::uint32_t kFloatMultipleFaults = 0xC00002B4u;
constexpr std::uint32_t kFloatMultipleTraps = 0xC00002B5u;

constexpr DWORD kAlignmentCheckFlag = 0x40000; // EFLAGS.AC
constexpr WORD kX87PendingExceptions = 0x80FF; // busy, summary and the exception flags
constexpr ULONG kStackGuarantee = 64 * 1024;   // what is left to a stack overflow's handling
constexpr int kMaxFramesSearched = 1024;

struct alignas(16) ThreadFaults {
    CONTEXT atFault; // the thread at the fault, for a translator that returns
    FaultTranslator translator = nullptr;
    std::uint32_t code = 0;
    bool translating = false; // a fault of this thread is being looked at or translated
    bool passNext = false;    // the next fault goes its default way unseen
};

std::atomic<DWORD> g_slot{TLS_OUT_OF_INDEXES};

ThreadFaults* ThisThreadsFaults() {
    const DWORD slot = g_slot.load(std::memory_order_acquire);
    if (slot == TLS_OUT_OF_INDEXES)
        return nullptr;
    // Reading the slot clears the thread's last error, which the faulting code may still need.
    const DWORD lastError = GetLastError();
    auto* faults = static_cast<ThreadFaults*>(TlsGetValue(slot));
    SetLastError(lastError);
    return faults;
}

// The thread's state, made on the first installation and gone with the thread.
class ThreadFaultsOwner {
public:
    ThreadFaultsOwner() : state_(new ThreadFaults) {
        TlsSetValue(g_slot.load(std::memory_order_acquire), state_);
    }
    ~ThreadFaultsOwner() {
        TlsSetValue(g_slot.load(std::memory_order_acquire), nullptr);
        delete state_;
    }
    ThreadFaultsOwner(const ThreadFaultsOwner&) = delete;
    ThreadFaultsOwner& operator=(const ThreadFaultsOwner&) = delete;
    ThreadFaults& state() { return *state_; }

private:
    ThreadFaults* state_;
};

bool IsProcessorFault(std::uint32_t code) {
    switch (code) {
    case kAccessViolation:
    case kDatatypeMisalignment:
    case kInPageError:
    case kIllegalInstruction:
    case kPrivilegedInstruction:
    case kIntDivideByZero:
    case kIntOverflow:
    case kStackOverflow:
    case kArrayBoundsExceeded:
    case kFloatDivideByZero:
    case kFloatInexactResult:
    case kFloatInvalidOperation:
    case kFloatOverflow:
    case kFloatUnderflow:
    case kFloatDenormalOperand:
    case kFloatStackCheck:
    case kFloatMultipleFaults:
    case kFloatMultipleTraps:
        return true;
    default:
        return false;
    }
}

// --- GCC's exception tables ----------------------------------------------------------------

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

// Reads the language-specific data area that GCC's personality routine reads.
class LsdaReader {
public:
    explicit LsdaReader(const unsigned char* p) : p_(p) {}

    bool Uleb(std::uint64_t& value) {
        value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            const unsigned char byte = *p_++;
            value |= std::uint64_t(byte & 0x7F) << shift;
            if ((byte & 0x80) == 0)
                return true;
        }
        return false;
    }

    bool Sleb(std::int64_t& value) {
        std::uint64_t result = 0;
        int shift = 0;
        unsigned char byte;
        do {
            if (shift >= 64)
                return false;
            byte = *p_++;
            result |= std::uint64_t(byte & 0x7F) << shift;
            shift += 7;
        } while ((byte & 0x80) != 0);
        if (shift < 64 && (byte & 0x40) != 0)
            result |= ~std::uint64_t(0) << shift;
        value = static_cast<std::int64_t>(result);
        return true;
    }

    // An offset in one of the plain encodings the tables use for call sites.
    bool Encoded(unsigned char encoding, std::uint64_t& value) {
        switch (encoding & 0x0F) {
        case 0x01:
            return Uleb(value);
        case 0x09: {
            std::int64_t signedValue;
            if (!Sleb(signedValue))
                return false;
            value = static_cast<std::uint64_t>(signedValue);
            return true;
        }
        case 0x02:
        case 0x0A:
            return Fixed<std::uint16_t>(value, encoding == 0x0A);
        case 0x03:
        case 0x0B:
            return Fixed<std::uint32_t>(value, encoding == 0x0B);
        case 0x00:
        case 0x04:
        case 0x0C:
            return Fixed<std::uint64_t>(value, false);
        default:
            return false;
        }
    }

    unsigned char Byte() { return *p_++; }
    const unsigned char* position() const { return p_; }

private:
    template <typename T> bool Fixed(std::uint64_t& value, bool isSigned) {
        T raw;
        std::memcpy(&raw, p_, sizeof raw);
        p_ += sizeof raw;
        value = raw;
        if constexpr (sizeof(T) < 8) {
            if (isSigned && (raw >> (sizeof(T) * 8 - 1)) != 0)
                value |= ~std::uint64_t(0) << (sizeof(T) * 8);
        }
        return true;
    }

    const unsigned char* p_;
};

enum class CallSite {
    kNotCovered,   // GCC ends the program (std::terminate) for an exception from here
    kNoLandingPad, // unwinding passes on to the caller
    kLandingPad,   // a catch or a cleanup runs here
    kUnknown,      // tables in a form not understood
};

constexpr unsigned char kOmitted = 0xFF;

// Where ip stands in the call-site table of the function that starts at regionStart.
CallSite FindCallSite(const void* lsda, std::uint64_t regionStart, std::uint64_t ip) {
    if (lsda == nullptr)
        return CallSite::kNoLandingPad;
    LsdaReader reader(static_cast<const unsigned char*>(lsda));
    const unsigned char landingPadStartEncoding = reader.Byte();
    if (landingPadStartEncoding != kOmitted) {
        std::uint64_t ignored;
        if ((landingPadStartEncoding & 0x70) != 0 ||
            !reader.Encoded(landingPadStartEncoding, ignored))
            return CallSite::kUnknown;
    }
    const unsigned char typeTableEncoding = reader.Byte();
    if (typeTableEncoding != kOmitted) {
        std::uint64_t ignored;
        if (!reader.Uleb(ignored))
            return CallSite::kUnknown;
    }
    const unsigned char callSiteEncoding = reader.Byte();
    if ((callSiteEncoding & 0x70) != 0)
        return CallSite::kUnknown;
    std::uint64_t tableLength;
    if (!reader.Uleb(tableLength))
        return CallSite::kUnknown;
    const unsigned char* end = reader.position() + tableLength;
    while (reader.position() < end) {
        std::uint64_t start, length, landingPad, action;
        if (!reader.Encoded(callSiteEncoding, start) || !reader.Encoded(callSiteEncoding, length) ||
            !reader.Encoded(callSiteEncoding, landingPad) || !reader.Uleb(action))
            return CallSite::kUnknown;
        // The table is sorted: once past ip, nothing later covers it.
        if (ip < regionStart + start)
            return CallSite::kNotCovered;
        if (ip < regionStart + start + length)
            return landingPad != 0 ? CallSite::kLandingPad : CallSite::kNoLandingPad;
    }
    return CallSite::kNotCovered;
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

// --- Entering the thunk --------------------------------------------------------------------

// Marks the thread as translating until the translator's exception has left.
class TranslatingScope {
public:
    explicit TranslatingScope(ThreadFaults& faults) : faults_(faults) {
        faults_.translating = true;
    }
    ~TranslatingScope() { faults_.translating = false; }
    TranslatingScope(const TranslatingScope&) = delete;
    TranslatingScope& operator=(const TranslatingScope&) = delete;

private:
    ThreadFaults& faults_;
};

} // namespace
} // namespace platform

extern "C" void pandel_fault_entry();

// Runs on the faulting thread as the thunk's callee; throws the translator's exception.
extern "C" [[noreturn]] __attribute__((used)) void pandel_raise_pending_fault() {
    platform::ThreadFaults* faults = platform::ThisThreadsFaults();
    {
        platform::TranslatingScope scope(*faults);
        platform::FaultRecord record{faults->code};
        faults->translator(record.code, &record);
    }
    // A translator that returns leaves the fault what it had before: the faulting instruction
    // runs again, and its fault passes by.
    faults->passNext = true;
    RtlRestoreContext(&faults->atFault, nullptr);
    // Only a context the system refuses comes back here; the fault's default is the end.
    TerminateProcess(GetCurrentProcess(), faults->code);
    __builtin_unreachable();
}

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

namespace platform {
namespace {

LONG CALLBACK OnException(EXCEPTION_POINTERS* exception) {
    const EXCEPTION_RECORD* record = exception->ExceptionRecord;
    if (!IsProcessorFault(record->ExceptionCode) ||
        (record->ExceptionFlags & EXCEPTION_NONCONTINUABLE) != 0)
        return EXCEPTION_CONTINUE_SEARCH;
    ThreadFaults* faults = ThisThreadsFaults();
    if (faults == nullptr || faults->translator == nullptr)
        return EXCEPTION_CONTINUE_SEARCH;
    if (faults->passNext) {
        faults->passNext = false;
        return EXCEPTION_CONTINUE_SEARCH;
    }
    if (faults->translating)
        return EXCEPTION_CONTINUE_SEARCH;
    CONTEXT* context = exception->ContextRecord;
    bool reaches;
    {
        TranslatingScope scope(*faults); // a fault while the stack is searched passes by
        reaches = ReachesGccFrame(*context);
    }
    if (!reaches)
        return EXCEPTION_CONTINUE_SEARCH;
    faults->code = record->ExceptionCode;
    faults->atFault = *context;
    // The extended processor state lives beyond the record, where a copy does not reach.
    faults->atFault.ContextFlags = CONTEXT_FULL;
    context->R11 = context->Rip + 1;
    context->Rip = reinterpret_cast<DWORD64>(&pandel_fault_entry);
    // The faulting code's alignment checking and pending x87 exceptions must not strike the
    // thunk and the unwinder.
    context->EFlags &= ~kAlignmentCheckFlag;
    context->FltSave.StatusWord &= static_cast<WORD>(~kX87PendingExceptions);
    return EXCEPTION_CONTINUE_EXECUTION;
}

// The handler, added once and removed when the module that holds it is unloaded: a handler left
// behind in unmapped code would take the process down at its next exception.
class ProcessHandler {
public:
    ProcessHandler() {
        const DWORD slot = TlsAlloc();
        if (slot == TLS_OUT_OF_INDEXES)
            return;
        g_slot.store(slot, std::memory_order_release);
        handler_ = AddVectoredExceptionHandler(1, OnException);
    }
    ~ProcessHandler() {
        if (handler_ != nullptr)
            RemoveVectoredExceptionHandler(handler_);
        const DWORD slot = g_slot.exchange(TLS_OUT_OF_INDEXES);
        if (slot != TLS_OUT_OF_INDEXES)
            TlsFree(slot);
    }
    ProcessHandler(const ProcessHandler&) = delete;
    ProcessHandler& operator=(const ProcessHandler&) = delete;
    bool ok() const { return handler_ != nullptr; }

private:
    void* handler_ = nullptr;
};

} // namespace

void InstallFaultTranslator(FaultTranslator translator) {
    static ProcessHandler handler;
    if (!handler.ok())
        return;
    static thread_local ThreadFaultsOwner owner;
    // Room for the handler, the thunk and the unwinder after a stack overflow.
    ULONG guarantee = 0;
    if (SetThreadStackGuarantee(&guarantee) && guarantee < kStackGuarantee) {
        guarantee = kStackGuarantee;
        SetThreadStackGuarantee(&guarantee);
    }
    owner.state().translator = translator;
}

std::u16string SystemMessageText(std::uint32_t code) {
    wchar_t* text = nullptr;
    // No insert values are given, so insert sequences stay as the message table has them
    // rather than being filled from arguments that do not exist.
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::u16string message;
    if (length != 0 && text != nullptr)
        message = win32::FromWide(text, length);
    if (text != nullptr)
        LocalFree(text);
    return message;
}

} // namespace platform
