// The fault translator that throws ErrObj.
#include "diag/se_translator.h"

#include "pandel/err_obj.h"

namespace pandel {

void SeTranslator(std::uint32_t, const platform::FaultRecord* record) {
    throw ErrObj(record);
}

void InstallSeTranslator() {
    platform::InstallFaultTranslator(SeTranslator);
}

} // namespace pandel
