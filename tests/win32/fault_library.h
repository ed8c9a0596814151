// A library of its own, with its own copy of the C++ runtime, in which tests make faults.
#pragma once

#ifdef FAULT_LIBRARY_BUILD
#define FAULT_LIBRARY_API __declspec(dllexport)
#else
#define FAULT_LIBRARY_API __declspec(dllimport)
#endif

extern "C" {

enum FaultLibraryKind {
    kFaultLibraryNullWrite,
    kFaultLibraryDivideByZero,
};

// Makes the fault in a function below a frame whose local object calls unwound(context) when
// destroyed; returns 0 when no fault happened.
FAULT_LIBRARY_API int fault_library_run(int kind, void (*unwound)(void*), void* context);
}
