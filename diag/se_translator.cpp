// The fault translator that throws ErrObj, and the table that names the faults it knows.
#include "diag/se_translator.h"

#include "pandel/err_obj.h"

namespace pandel {
namespace {

struct KnownException {
    std::uint32_t code;
    const char16_t* name;
};

constexpr KnownException kKnownExceptions[] = {
    {0xC0000005u, u"EXCEPTION_ACCESS_VIOLATION"},
    {0x80000002u, u"EXCEPTION_DATATYPE_MISALIGNMENT"},
    {0xC0000006u, u"EXCEPTION_IN_PAGE_ERROR"},
    {0xC000001Du, u"EXCEPTION_ILLEGAL_INSTRUCTION"},
    {0xC0000025u, u"EXCEPTION_NONCONTINUABLE_EXCEPTION"},
    {0xC000008Cu, u"EXCEPTION_ARRAY_BOUNDS_EXCEEDED"},
    {0xC0000094u, u"EXCEPTION_INT_DIVIDE_BY_ZERO"},
    {0xC0000095u, u"EXCEPTION_INT_OVERFLOW"},
    {0xC00000FDu, u"EXCEPTION_STACK_OVERFLOW"},
};

} // namespace

ErrObj ErrObjFromFault(const platform::FaultRecord* record) {
    const std::uint32_t raw = record != nullptr ? record->code : 0;
    for (const KnownException& known : kKnownExceptions) {
        if (known.code == raw)
            return ErrObj(static_cast<std::int32_t>(raw), known.name, false);
    }
    return ErrObj(static_cast<std::int32_t>(raw), u"", false);
}

void SeTranslator(std::uint32_t, const platform::FaultRecord* record) {
    throw ErrObjFromFault(record);
}

void InstallSeTranslator() {
    platform::InstallFaultTranslator(SeTranslator);
}

} // namespace pandel
