// The faults of libfaulty, each reached through a pointer the compiler cannot see through, so
// that no caller is taken to be unable to throw.
#include "tests/diag/faulty.h"

namespace {

using Fault = int (*)(const void*);

int Nothing(const void*) {
    return 7;
}

int NullWrite(const void*) {
    volatile int* volatile target = nullptr;
    *target = 1;
    return 0;
}

int ReadAt(const void* arg) {
    return *static_cast<const volatile char*>(arg);
}

int DivideByZero(const void*) {
    volatile int dividend = 7;
    volatile int divisor = 0;
    return dividend / divisor;
}

int Illegal(const void*) {
    __asm__ volatile("ud2");
    return 0;
}

// Built without a red zone: the pushes below the stack pointer touch nothing in use.
int MisalignedRead(const void*) {
    alignas(8) static char buffer[16];
    __asm__ volatile("pushfq\n\torl $0x40000, (%%rsp)\n\tpopfq" ::: "memory", "cc");
    int value = *reinterpret_cast<const volatile int*>(buffer + 1);
    __asm__ volatile("pushfq\n\tandl $~0x40000, (%%rsp)\n\tpopfq" ::: "memory", "cc");
    return value;
}

int Recurse(const void* depth);
Fault volatile g_recurse = Recurse;
int Recurse(const void* depth) {
    volatile char frame[1024];
    frame[0] = 1;
    return g_recurse(static_cast<const char*>(depth) + 1) + frame[0];
}

Fault volatile g_faults[] = {Nothing, NullWrite,      ReadAt, DivideByZero,
                             Illegal, MisalignedRead, Recurse};

struct Unwound {
    void (*unwound)(void*);
    void* context;
    ~Unwound() {
        if (unwound != nullptr)
            unwound(context);
    }
};

} // namespace

extern "C" int faulty_run(int kind, const void* arg, void (*unwound)(void*), void* context) {
    Unwound guard{unwound, context};
    return g_faults[kind](arg);
}
