// Processor faults on POSIX: the synchronous signals, handled on a per-thread alternate stack and
// handed to the thread's translator, which throws from the point of the fault. The process's
// signal actions are put back when the module is unloaded.
#include "platform/fault.h"
#include "platform/translating_flag.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <mutex>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

namespace pandel::platform {
namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
constexpr std::size_t kSignalCount = sizeof(kFaultSignals) / sizeof(kFaultSignals[0]);
constexpr std::size_t kAltStackSize = 64 * 1024;
// A SIGSEGV at most this far below the thread's stack, or in its lowest page, is an overflow.
constexpr std::uintptr_t kOverflowReach = 1024 * 1024;

struct ThreadFaults {
    FaultTranslator translator = nullptr;
    std::uintptr_t stackLow = 0; // lowest address of the thread's stack; 0 when unknown
    std::uintptr_t pageSize = 4096;
    bool translating = false; // a fault of this thread is being turned into an exception
};

// A thread's state and the alternate stack made for it, given back when the thread ends.
class ThreadFaultsOwner {
public:
    ThreadFaultsOwner() {
        long page = sysconf(_SC_PAGESIZE);
        if (page > 0)
            state.pageSize = static_cast<std::uintptr_t>(page);
        pthread_attr_t attr;
        if (pthread_getattr_np(pthread_self(), &attr) == 0) {
            void* low = nullptr;
            std::size_t size = 0;
            if (pthread_attr_getstack(&attr, &low, &size) == 0)
                state.stackLow = reinterpret_cast<std::uintptr_t>(low);
            pthread_attr_destroy(&attr);
        }
        MakeAltStack();
    }

    ~ThreadFaultsOwner() {
        if (mapping_ == nullptr)
            return;
        sigaltstack(&previous_, nullptr);
        munmap(mapping_, mappingSize_);
    }

    ThreadFaultsOwner(const ThreadFaultsOwner&) = delete;
    ThreadFaultsOwner& operator=(const ThreadFaultsOwner&) = delete;

    ThreadFaults state;

private:
    // Keeps an alternate stack that the thread already has when it is big enough; otherwise
    // maps one with an inaccessible page below it, so that overrunning it cannot go unnoticed.
    void MakeAltStack() {
        std::size_t size = std::max<std::size_t>(kAltStackSize, 4 * SIGSTKSZ);
        stack_t current{};
        if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0 &&
            current.ss_size >= size)
            return;
        std::size_t guard = state.pageSize;
        void* mapping = mmap(nullptr, size + guard, PROT_READ | PROT_WRITE,
                             MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        if (mapping == MAP_FAILED)
            return;
        mprotect(mapping, guard, PROT_NONE);
        stack_t stack{};
        stack.ss_sp = static_cast<char*>(mapping) + guard;
        stack.ss_size = size;
        if (sigaltstack(&stack, &previous_) != 0) {
            munmap(mapping, size + guard);
            return;
        }
        mapping_ = mapping;
        mappingSize_ = size + guard;
    }

    void* mapping_ = nullptr;
    std::size_t mappingSize_ = 0;
    stack_t previous_{};
};

// The actions the process had before ours, by index in kFaultSignals, and the key under which
// each thread finds its state. A key rather than a thread-local: the handler must find the state
// without allocating, and a thread-local of a library that dlopen loads is allocated at a
// thread's first use, unless it sits in the static TLS block, which such a library may not get.
struct sigaction g_previous[kSignalCount];
pthread_key_t g_threadKey;
std::atomic<bool> g_haveKey{false}; // set before the first handler goes in
std::mutex g_installLock;

// The calling thread's state; null when it never installed a translator.
ThreadFaults* ThisThreadsFaults() {
    if (!g_haveKey)
        return nullptr;
    auto* owner = static_cast<ThreadFaultsOwner*>(pthread_getspecific(g_threadKey));
    return owner != nullptr ? &owner->state : nullptr;
}

void ReleaseThreadFaults(void* owner) {
    delete static_cast<ThreadFaultsOwner*>(owner);
}

// Signals sent by kill, raise or sigqueue carry a code of zero or below; faults a positive one.
bool IsFault(const siginfo_t* info) {
    return info->si_code > 0;
}

std::size_t IndexOf(int signal) {
    std::size_t i = 0;
    while (i + 1 < kSignalCount && kFaultSignals[i] != signal)
        ++i;
    return i;
}

// Gives the signal what it would have had without us.
void Chain(int signal, siginfo_t* info, void* context) {
    const struct sigaction& previous = g_previous[IndexOf(signal)];
    if (previous.sa_handler == SIG_IGN && !IsFault(info))
        return;
    if (previous.sa_handler == SIG_DFL || previous.sa_handler == SIG_IGN) {
        // A fault cannot be ignored: returning runs the faulting instruction again, now with the
        // default action. A sent signal stays pending until this handler returns.
        struct sigaction byDefault {};
        byDefault.sa_handler = SIG_DFL;
        sigemptyset(&byDefault.sa_mask);
        sigaction(signal, &byDefault, nullptr);
        if (!IsFault(info))
            raise(signal);
        return;
    }
    if ((previous.sa_flags & SA_SIGINFO) != 0) {
        previous.sa_sigaction(signal, info, context);
        return;
    }
    previous.sa_handler(signal);
}

bool IsStackOverflow(const siginfo_t* info, const ThreadFaults& faults) {
    auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    if (faults.stackLow == 0 || address >= faults.stackLow + faults.pageSize)
        return false;
    return faults.stackLow < kOverflowReach || address >= faults.stackLow - kOverflowReach;
}

std::uint32_t CodeOf(int signal, const siginfo_t* info, const ThreadFaults& faults) {
    switch (signal) {
    case SIGSEGV:
        return IsStackOverflow(info, faults) ? kStackOverflow : kAccessViolation;
    case SIGBUS:
        return info->si_code == BUS_ADRALN ? kDatatypeMisalignment : kInPageError;
    case SIGILL:
        return info->si_code == ILL_PRVOPC || info->si_code == ILL_PRVREG ? kPrivilegedInstruction
                                                                          : kIllegalInstruction;
    default:
        break;
    }
    switch (info->si_code) {
    case FPE_INTOVF:
        return kIntOverflow;
    case FPE_FLTDIV:
        return kFloatDivideByZero;
    case FPE_FLTOVF:
        return kFloatOverflow;
    case FPE_FLTUND:
        return kFloatUnderflow;
    case FPE_FLTRES:
        return kFloatInexactResult;
    case FPE_FLTINV:
        return kFloatInvalidOperation;
    case FPE_FLTSUB:
        return kArrayBoundsExceeded;
    default:
        return kIntDivideByZero;
    }
}

void OnFault(int signal, siginfo_t* info, void* context) {
    ThreadFaults* faults = ThisThreadsFaults();
    if (faults == nullptr || faults->translator == nullptr || faults->translating ||
        !IsFault(info)) {
        Chain(signal, info, context);
        return;
    }
    std::uint32_t code = CodeOf(signal, info, *faults);
    // Leaving by an exception skips the kernel's restoring of the signal mask; without this the
    // signal would stay blocked and the thread's next fault would end the process.
    pthread_sigmask(SIG_SETMASK, &static_cast<ucontext_t*>(context)->uc_sigmask, nullptr);
    {
        TranslatingScope scope(faults->translating);
        FaultRecord record{code};
        faults->translator(code, &record);
    }
    // A translator that returns leaves the fault what it had before.
    Chain(signal, info, context);
}

// The handler's entry. x86 leaves the faulting code's alignment-check flag set in the handler,
// and what runs from here (instrumented prologues, the unwinder) makes misaligned accesses: the
// flag is cleared before anything else, by a function with nothing added to its prologue.
__attribute__((no_sanitize("address", "undefined"), no_stack_protector)) void
OnFaultEntry(int signal, siginfo_t* info, void* context) {
#if defined(__x86_64__)
    __asm__ volatile("pushfq\n\tandl $~0x40000, (%%rsp)\n\tpopfq" ::: "memory", "cc");
#endif
    OnFault(signal, info, context);
}

bool IsOurs(const struct sigaction& action) {
    return (action.sa_flags & SA_SIGINFO) != 0 && action.sa_sigaction == OnFaultEntry;
}

// Puts our handler in place for every fault signal whose action is not ours, keeping the one it
// replaces for chaining. Called with g_installLock held.
void InstallProcessHandlers() {
    for (std::size_t i = 0; i < kSignalCount; ++i) {
        struct sigaction current {};
        if (sigaction(kFaultSignals[i], nullptr, &current) != 0 || IsOurs(current))
            continue;
        struct sigaction ours {};
        ours.sa_sigaction = OnFaultEntry;
        ours.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&ours.sa_mask);
        g_previous[i] = current;
        sigaction(kFaultSignals[i], &ours, nullptr);
    }
}

// At unload: every action that is still ours gets back the one it replaced (an action the host
// has put in since stays), and no thread's exit calls into the unloaded code any more. What a
// live thread was given (its state, its alternate stack) stays with it.
struct ProcessHandlersRestorer {
    ~ProcessHandlersRestorer() {
        std::lock_guard<std::mutex> hold(g_installLock);
        for (std::size_t i = 0; i < kSignalCount; ++i) {
            struct sigaction current {};
            if (sigaction(kFaultSignals[i], nullptr, &current) == 0 && IsOurs(current))
                sigaction(kFaultSignals[i], &g_previous[i], nullptr);
        }
        if (g_haveKey)
            pthread_key_delete(g_threadKey);
        g_haveKey = false;
    }
} g_restorer;

} // namespace

void InstallFaultTranslator(FaultTranslator translator) {
    std::lock_guard<std::mutex> hold(g_installLock);
    if (!g_haveKey) {
        if (pthread_key_create(&g_threadKey, ReleaseThreadFaults) != 0)
            return;
        g_haveKey = true;
    }
    auto* owner = static_cast<ThreadFaultsOwner*>(pthread_getspecific(g_threadKey));
    if (owner == nullptr) {
        owner = new ThreadFaultsOwner();
        if (pthread_setspecific(g_threadKey, owner) != 0) {
            delete owner;
            return;
        }
    }
    owner->state.translator = translator;
    InstallProcessHandlers();
}

std::u16string SystemMessageText(std::uint32_t) {
    return {};
}

} // namespace pandel::platform
