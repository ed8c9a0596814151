// libfaulty: a library built apart from the module, in which tests make real processor faults.
#pragma once

extern "C" {

enum FaultyKind {
    kFaultyNothing,        // returns 7
    kFaultyNullWrite,      // stores through a null pointer
    kFaultyReadAt,         // loads one byte from arg
    kFaultyDivideByZero,   // integer division by zero
    kFaultyIllegal,        // ud2
    kFaultyMisalignedRead, // a misaligned load with the alignment check on
    kFaultyStackOverflow,  // recurses until the stack is exhausted
};

// Runs the fault below a frame whose local object calls unwound(context) when destroyed.
__attribute__((visibility("default"))) int faulty_run(int kind, const void* arg,
                                                      void (*unwound)(void*), void* context);
}
