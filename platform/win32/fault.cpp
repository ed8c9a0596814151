// Processor faults on Windows: a vectored exception handler sends a fault on a thread that has a
// translator into a small thunk, entered as if the faulting instruction had called it, which
// calls the translator; its exception then unwinds from the fault with GCC's own tables. The
// module is built with -fnon-call-exceptions, so that faulting instructions are covered there.
// What depends on the processor (how the thunk is entered, how a throw is known to be taken)
// is in fault_x86_64.cpp and fault_i686.cpp.
#include "platform/fault.h"
#include "platform/translating_flag.h"

#include "platform/win32/fault_processor.h"
#include "platform/win32/windows_api.h"

#include <atomic>

namespace pandel::platform {
namespace {

// Exception codes of faults that have no name in the header.
constexpr std::uint32_t kFloatDenormalOperand = 0xC000008Du;
constexpr std::uint32_t kFloatStackCheck = 0xC0000092u;
constexpr std::uint32_t kFloatMultipleFaults = 0xC00002B4u;
constexpr std::uint32_t kFloatMultipleTraps = 0xC00002B5u;

constexpr ULONG kStackGuarantee = 64 * 1024; // what is left to a stack overflow's handling

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

// --- Entering the thunk --------------------------------------------------------------------

// Runs the faulting instruction again, and lets its fault pass by.
[[noreturn]] void PassOn(ThreadFaults& faults) {
    faults.passNext = true;
    win32::ResumeAt(faults.atFault);
    // Only a context the system refuses comes back here; the fault's default is the end.
    TerminateProcess(GetCurrentProcess(), faults.code);
    __builtin_unreachable();
}

} // namespace
} // namespace pandel::platform

extern "C" [[noreturn]] __attribute__((used)) void pandel_raise_pending_fault() {
    pandel::platform::ThreadFaults* faults = pandel::platform::ThisThreadsFaults();
    bool taken;
    {
        pandel::platform::TranslatingScope scope(
            faults->translating); // a fault during the trial walk passes by
        taken = pandel::platform::win32::ThrowFromFaultIsTaken(faults->atFault);
    }
    if (!taken)
        pandel::platform::PassOn(*faults);
    {
        pandel::platform::TranslatingScope scope(faults->translating);
        pandel::platform::FaultRecord record{faults->code};
        faults->translator(record.code, &record);
    }
    // A translator that returns leaves the fault what it had before.
    pandel::platform::PassOn(*faults);
}

namespace pandel::platform {
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
    bool mayBeThrown;
    {
        TranslatingScope scope(
            faults->translating); // a fault while the stack is searched passes by
        mayBeThrown = win32::FaultMayBeThrown(*context);
    }
    if (!mayBeThrown)
        return EXCEPTION_CONTINUE_SEARCH;
    faults->code = record->ExceptionCode;
    faults->atFault = *context;
    win32::KeepForResume(faults->atFault);
    win32::EnterThunk(*context);
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

} // namespace pandel::platform
