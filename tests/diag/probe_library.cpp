// A shared library built from the diagnostics code as the module is built (hidden by default),
// exporting one function that faults with the translator installed.
#include "diag/se_translator.h"

extern "C" __attribute__((visibility("default"))) int probe_fault_in_library() {
    pandel::InstallSeTranslator();
    volatile int* volatile target = nullptr;
    *target = 1;
    return 0;
}
