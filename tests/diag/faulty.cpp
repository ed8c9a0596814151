// The faults of libfaulty. Every fault sits in its own function, reached through a pointer the
// compiler cannot see through, so that no caller is taken to be unable to throw.
#include "tests/diag/faulty.h"

namespace {

class Unwound {
public:
    Unwound(void (*unwound)(void*), void* context) : unwound_(unwound), context_(context) {}
    ~Unwound() {
        if (unwound_ != nullptr)
            unwound_(context_);
    }
    Unwound(const Unwound&) = delete;
    Unwound& operator=(const Unwound&) = delete;

private:
    void (*unwound_)(void*);
    void* context_;
};

using FaultFunction = int (*)(const void*);

int Nothing(const void*) {
    return 7;
}

int NullWrite(const void*) {
    volatile int* volatile target = nullptr;
    *target = 1;
    return 0;
}

int WriteAt(const void* arg) {
    *static_cast<volatile char*>(const_cast<void*>(arg)) = 1;
    return 0;
}

int ReadAt(const void* arg) {
    return *static_cast<const volatile char*>(arg);
}

int DivideByZero(const void*) {
    volatile int dividend = 1;
    volatile int divisor = 0;
    return dividend / divisor;
}

int Illegal(const void*) {
    __asm__ volatile("ud2");
    return 0;
}

// The library is built without a red zone: the flag pushes below the stack pointer are safe.
int MisalignedRead(const void*) {
    alignas(8) static char buffer[16];
    __asm__ volatile("pushfq\n\torl $0x40000, (%%rsp)\n\tpopfq" ::: "memory", "cc");
    int value = *reinterpret_cast<const volatile int*>(buffer + 1);
    __asm__ volatile("pushfq\n\tandl $~0x40000, (%%rsp)\n\tpopfq" ::: "memory", "cc");
    return value;
}

int Recurse(const void* depth);
FaultFunction volatile g_recurse = Recurse;

int Recurse(const void* depth) {
    volatile char frame[1024];
    frame[0] = 1;
    frame[sizeof(frame) - 1] = 1;
    return g_recurse(static_cast<const char*>(depth) + 1) + frame[0];
}

FaultFunction volatile g_faults[] = {Nothing,      NullWrite, WriteAt,        ReadAt,
                                     DivideByZero, Illegal,   MisalignedRead, Recurse};

} // namespace

extern "C" int faulty_run(int kind, const void* arg, void (*unwound)(void*), void* context) {
    Unwound guard(unwound, context);
    if (kind < 0 || kind >= static_cast<int>(sizeof(g_faults) / sizeof(g_faults[0])))
        return -1;
    return g_faults[kind](arg);
}
