// Real processor faults on a thread with a translator become its exception, unwinding the frames
// from the fault; everywhere else a fault keeps what the system gives it.
#include "platform/fault.h"

#include "harness/child_process.h"
#include "tests/win32/fault_library.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <climits>
#include <string>
#include <thread>
#include <xmmintrin.h>

namespace platform = pandel::platform;

namespace {

using pandel::test::RunChildTest;
using pandel::test::RunsUnderWine;

struct Translated {
    std::uint32_t code;
    std::uint32_t recordCode;
    int translator;
};

[[noreturn]] void TranslateOne(std::uint32_t code, const platform::FaultRecord* record) {
    throw Translated{code, record->code, 1};
}
[[noreturn]] void TranslateTwo(std::uint32_t code, const platform::FaultRecord* record) {
    throw Translated{code, record->code, 2};
}

enum class Kind {
    kNullWrite,
    kReadLowAddress,
    kDivideByZero,
    kDivideOverflow,
    kIllegal,
    kPrivileged,
    kMisalignedRead,
    kFloatDivideByZero
};

struct Counted {
    int* count;
    ~Counted() { ++*count; }
};

// Sets or clears EFLAGS.AC, the processor's alignment check, through the stack.
#if defined(__x86_64__)
#define SET_ALIGNMENT_CHECK "pushfq\n\torl $0x40000, (%%rsp)\n\tpopfq"
#define CLEAR_ALIGNMENT_CHECK "pushfq\n\tandl $~0x40000, (%%rsp)\n\tpopfq"
#else
#define SET_ALIGNMENT_CHECK "pushfl\n\torl $0x40000, (%%esp)\n\tpopfl"
#define CLEAR_ALIGNMENT_CHECK "pushfl\n\tandl $~0x40000, (%%esp)\n\tpopfl"
#endif

// GCC takes an asm statement to be unable to fault, so these happen one call down.
__attribute__((noinline)) void AsmFault(Kind kind) {
    switch (kind) {
    case Kind::kIllegal:
        __asm__ volatile("ud2");
        break;
    case Kind::kPrivileged:
        __asm__ volatile("hlt");
        break;
    default: {
        alignas(8) static char buffer[16];
        __asm__ volatile(SET_ALIGNMENT_CHECK ::: "memory", "cc");
        volatile int value = *reinterpret_cast<const volatile int*>(buffer + 1);
        __asm__ volatile(CLEAR_ALIGNMENT_CHECK ::: "memory", "cc");
        (void)value;
        break;
    }
    }
}

// The other faults happen in this very frame, whose own local object must be destroyed: the
// frame's tables are read at the faulting instruction.
__attribute__((noinline)) void FaultHere(Kind kind, int* unwound) {
    Counted local{unwound};
    volatile int zero = 0;
    volatile int minimum = INT_MIN;
    volatile int minusOne = -1;
    volatile int sink [[maybe_unused]] = 0;
    volatile double one = 1.0;
    volatile double none = 0.0;
    volatile double floatSink [[maybe_unused]] = 0.0;
    switch (kind) {
    case Kind::kNullWrite: {
        volatile int* volatile target = nullptr;
        *target = 1;
        break;
    }
    case Kind::kReadLowAddress:
        sink = *reinterpret_cast<volatile int*>(static_cast<std::uintptr_t>(16 + zero));
        break;
    case Kind::kDivideByZero:
        sink = 7 / zero;
        break;
    case Kind::kDivideOverflow:
        sink = minimum / minusOne;
        break;
    case Kind::kFloatDivideByZero:
        _mm_setcsr(_mm_getcsr() & ~_MM_MASK_DIV_ZERO);
        floatSink = one / none;
        break;
    default:
        AsmFault(kind);
        break;
    }
}

struct Row {
    const char* what;
    Kind kind;
    std::uint32_t code;
};

bool IsFloatCode(std::uint32_t code) {
    return (code >= platform::kFloatDivideByZero && code <= platform::kFloatUnderflow) ||
           code == 0xC00002B4u || code == 0xC00002B5u;
}

// Runs every fault of the table on the calling thread, once each, after installing translator.
void ExpectEveryFaultTranslated(platform::FaultTranslator translator, int which) {
    platform::InstallFaultTranslator(translator);
    // Wine reports INT_MIN / -1 as a division by zero, where Windows reports an overflow.
    const std::uint32_t overflow =
        RunsUnderWine() ? platform::kIntDivideByZero : platform::kIntOverflow;
    const Row rows[] = {
        {"null write", Kind::kNullWrite, platform::kAccessViolation},
        {"read of a low address", Kind::kReadLowAddress, platform::kAccessViolation},
        {"division by zero", Kind::kDivideByZero, platform::kIntDivideByZero},
        {"INT_MIN / -1", Kind::kDivideOverflow, overflow},
        {"ud2", Kind::kIllegal, platform::kIllegalInstruction},
        {"hlt", Kind::kPrivileged, platform::kPrivilegedInstruction},
        {"misaligned read, alignment check on", Kind::kMisalignedRead,
         platform::kDatatypeMisalignment},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.kind == Kind::kMisalignedRead && RunsUnderWine())
            continue; // under Wine the alignment check never faults
        int unwound = 0;
        try {
            FaultHere(row.kind, &unwound);
            ADD_FAILURE() << "no fault";
        } catch (const Translated& fault) {
            EXPECT_EQ(fault.code, row.code) << std::hex << fault.code;
            EXPECT_EQ(fault.recordCode, fault.code);
            EXPECT_EQ(fault.translator, which);
        }
        EXPECT_EQ(unwound, 1);
    }
}

TEST(FaultTranslation, EveryFaultOfTheThreadUnwindsFromTheFaultingFrame) {
    ExpectEveryFaultTranslated(TranslateOne, 1);
    // Each thread has its own translator.
    std::thread other([] { ExpectEveryFaultTranslated(TranslateTwo, 2); });
    other.join();
    ExpectEveryFaultTranslated(TranslateOne, 1);
}

TEST(FaultTranslation, UnmaskedFloatFaultUnwindsFromTheFaultingFrame) {
    platform::InstallFaultTranslator(TranslateOne);
    const unsigned int csr = _mm_getcsr();
    _mm_setcsr(csr & ~_MM_EXCEPT_MASK);
    int unwound = 0;
    bool faulted = false;
    std::uint32_t code = 0;
    try {
        FaultHere(Kind::kFloatDivideByZero, &unwound);
    } catch (const Translated& fault) {
        faulted = true;
        code = fault.code;
    }
    const unsigned int after = _mm_getcsr();
    _mm_setcsr(csr);
    // Only the flag raised, as if the exception were masked: the processor has no SIMD
    // floating-point exceptions to give (seen with qemu's), so there is no fault to translate.
    if (!faulted && (after & _MM_EXCEPT_DIV_ZERO) != 0)
        GTEST_SKIP() << "an unmasked SIMD division by zero raised no exception on this processor";
    ASSERT_TRUE(faulted) << "no fault";
    EXPECT_TRUE(IsFloatCode(code)) << std::hex << code;
    EXPECT_EQ(unwound, 1);
}

void CountUnwound(void* count) {
    ++*static_cast<int*>(count);
}

TEST(FaultTranslation, FaultInAnotherModuleReachesItsFramesAndOurs) {
    platform::InstallFaultTranslator(TranslateOne);
    const struct {
        int kind;
        std::uint32_t code;
    } rows[] = {{kFaultLibraryNullWrite, platform::kAccessViolation},
                {kFaultLibraryDivideByZero, platform::kIntDivideByZero}};
    for (const auto& row : rows) {
        int libraryFrames = 0;
        int ourFrames = 0;
        try {
            Counted ours{&ourFrames};
            fault_library_run(row.kind, CountUnwound, &libraryFrames);
            ADD_FAILURE() << "no fault";
        } catch (const Translated& fault) {
            EXPECT_EQ(fault.code, row.code);
        }
        EXPECT_EQ(libraryFrames, 1);
        EXPECT_EQ(ourFrames, 1);
    }
}

TEST(FaultTranslation, SystemCodeKeepsTheFaultsItHandlesItself) {
    platform::InstallFaultTranslator(TranslateOne);
    // These probe the memory under their own exception handler.
    EXPECT_TRUE(IsBadReadPtr(reinterpret_cast<const void*>(16), 4));
    EXPECT_TRUE(IsBadWritePtr(reinterpret_cast<void*>(16), 4));
    int readable = 0;
    EXPECT_FALSE(IsBadReadPtr(&readable, sizeof readable));
}

// --- Faults that must keep their default action, each in a child process -------------------

__attribute__((noinline)) int FaultWhereNothingMayThrow() noexcept {
    volatile int* volatile target = nullptr;
    *target = 1;
    return 0;
}

void ReturningTranslator(std::uint32_t, const platform::FaultRecord*) {}

TEST(FaultChild, DISABLED_InFunctionThatCannotThrow) {
    platform::InstallFaultTranslator(TranslateOne);
    try {
        FaultWhereNothingMayThrow();
    } catch (...) {
    }
}

TEST(FaultChild, DISABLED_WithTranslatorThatReturns) {
    platform::InstallFaultTranslator(ReturningTranslator);
    int unwound = 0;
    try {
        FaultHere(Kind::kNullWrite, &unwound);
    } catch (...) {
    }
}

TEST(FaultChild, DISABLED_OnThreadWithoutTranslator) {
    platform::InstallFaultTranslator(TranslateOne);
    std::thread other([] {
        int unwound = 0;
        try {
            FaultHere(Kind::kDivideByZero, &unwound);
        } catch (...) {
        }
    });
    other.join();
}

__attribute__((noinline)) int Recurse(volatile int* depth) {
    volatile char frame[4096];
    frame[0] = static_cast<char>(*depth);
    if (++*depth < 0) // never: the stack runs out first
        return frame[0];
    return Recurse(depth) + frame[0];
}

TEST(FaultChild, DISABLED_StackOverflow) {
    platform::InstallFaultTranslator(TranslateOne);
    volatile int depth = 0;
    try {
        Recurse(&depth);
    } catch (const Translated& fault) {
        std::exit(fault.code == platform::kStackOverflow ? 0 : 2);
    }
    std::exit(3);
}

TEST(FaultTranslation, FaultsNoHandlerCanTakeEndTheProcessWithTheirOwnCode) {
    // std::terminate would end it with 3 instead: the fault was not thrown where it cannot be.
    EXPECT_EQ(RunChildTest("FaultChild.DISABLED_InFunctionThatCannotThrow"),
              platform::kAccessViolation);
    EXPECT_EQ(RunChildTest("FaultChild.DISABLED_WithTranslatorThatReturns"),
              platform::kAccessViolation);
    EXPECT_EQ(RunChildTest("FaultChild.DISABLED_OnThreadWithoutTranslator"),
              platform::kIntDivideByZero);
}

TEST(FaultTranslation, StackOverflowIsTranslated) {
    if (RunsUnderWine())
        GTEST_SKIP() << "Wine ends the process at a stack overflow instead of dispatching it";
    EXPECT_EQ(RunChildTest("FaultChild.DISABLED_StackOverflow"), 0u);
}

// --- System message texts ---------------------------------------------------------------------

TEST(SystemMessageText, IsTheTableTextWithItsLineEndAndInsertsUnfilled) {
    const std::u16string notFound = platform::SystemMessageText(ERROR_FILE_NOT_FOUND);
    ASSERT_GE(notFound.size(), 2u);
    EXPECT_EQ(notFound.substr(notFound.size() - 2), u"\r\n");
    EXPECT_EQ(platform::SystemMessageText(0x2BADC0DEu), u"");
    // A text with an insert sequence comes back with it, not with something read in its place.
    bool sawInsert = false;
    for (std::uint32_t code = 1; code < 16000 && !sawInsert; ++code)
        sawInsert = platform::SystemMessageText(code).find(u"%1") != std::u16string::npos;
    EXPECT_TRUE(sawInsert);
}

} // namespace
