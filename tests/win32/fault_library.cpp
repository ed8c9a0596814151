// The faults of the fault library, each in a leaf reached through a pointer the compiler cannot
// see through.
#include "tests/win32/fault_library.h"

namespace {

using Fault = int (*)();

int NullWrite() {
    volatile int* volatile target = nullptr;
    *target = 1;
    return 0;
}

int DivideByZero() {
    volatile int dividend = 7;
    volatile int divisor = 0;
    return dividend / divisor;
}

Fault volatile g_faults[] = {NullWrite, DivideByZero};

struct Unwound {
    void (*unwound)(void*);
    void* context;
    ~Unwound() { unwound(context); }
};

} // namespace

int fault_library_run(int kind, void (*unwound)(void*), void* context) {
    Unwound guard{unwound, context};
    return g_faults[kind]();
}
