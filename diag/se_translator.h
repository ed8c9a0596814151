// The module's fault translator: what turns a processor fault on the command thread into a thrown
// ErrObj.
#pragma once

#include "platform/fault.h"

#include <cstdint>

namespace pandel {

// Throws the ErrObj built from record. The code argument is not used; the record carries the
// same code.
[[noreturn]] void SeTranslator(std::uint32_t code, const platform::FaultRecord* record);

// Makes SeTranslator the calling thread's fault translator, discarding the one before, for the
// rest of the thread's life (see platform::InstallFaultTranslator).
void InstallSeTranslator();

} // namespace pandel
