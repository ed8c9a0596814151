// The module's fault translator: what turns a processor fault on the command thread into a thrown
// ErrObj.
#pragma once

#include "pandel/err_obj.h"
#include "platform/fault.h"

#include <cstdint>

namespace pandel {

// The ErrObj for a fault's record: a code of the exception table gets its name as description;
// any other code is kept with an empty description. isWindowsError is clear either way. A null
// record counts as code 0.
ErrObj ErrObjFromFault(const platform::FaultRecord* record);

// Throws the ErrObj built from record. The code argument is not used; the record carries the
// same code.
[[noreturn]] void SeTranslator(std::uint32_t code, const platform::FaultRecord* record);

// Makes SeTranslator the calling thread's fault translator, discarding the one before, for the
// rest of the thread's life (see platform::InstallFaultTranslator).
void InstallSeTranslator();

} // namespace pandel
