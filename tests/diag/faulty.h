// libfaulty: a library built apart from the module, in which tests make real processor faults
// happen, each below a frame whose local object reports its destruction.
#pragma once

extern "C" {

enum FaultyKind {
    kFaultyNothing,        // no fault: returns 7
    kFaultyNullWrite,      // stores through a null pointer
    kFaultyWriteAt,        // stores one byte at arg
    kFaultyReadAt,         // loads one byte from arg
    kFaultyDivideByZero,   // integer division by zero
    kFaultyIllegal,        // executes ud2
    kFaultyMisalignedRead, // a misaligned load with the processor's alignment check on
    kFaultyStackOverflow,  // recurses until the stack is exhausted
};

// Runs the fault of that kind below a frame whose local object calls unwound(context) when it
// is destroyed, on return or by an exception. Returns only when nothing faulted.
__attribute__((visibility("default"))) int faulty_run(int kind, const void* arg,
                                                      void (*unwound)(void*), void* context);
}
