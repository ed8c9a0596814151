// ErrObj and its exception table.
#include "pandel/err_obj.h"

#include "diag/log_module.h"
#include "platform/fault.h"

namespace pandel {
namespace {

constexpr const char16_t* kNoDescription = u"No desc";
constexpr const char16_t* kWindowsErrorKind = u"Windows Error";
constexpr const char16_t* kErrorReportFormat = u"Err occur, Code:%d\t%s\n\t%s";

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

ErrObj::ErrObj(const platform::FaultRecord* exceptionPointers)
    : code(0), description(), isWindowsError(false) {
    std::uint32_t raw = exceptionPointers != nullptr ? exceptionPointers->code : 0;
    code = static_cast<std::int32_t>(raw);
    for (const KnownException& known : kKnownExceptions) {
        if (known.code == raw) {
            description = known.name;
            return;
        }
    }
}

ErrObj::ErrObj(std::int32_t code, std::u16string description, bool isWindowsError)
    : code(code), description(std::move(description)), isWindowsError(isWindowsError) {}

ErrObj::ErrObj(const ErrObj& other)
    : code(other.code), description(other.description), isWindowsError(other.isWindowsError) {}

ErrObj& ErrObj::operator=(const ErrObj& other) = default;

ErrObj::~ErrObj() = default;

std::u16string ErrObj::GetDescription() const {
    if (description.empty())
        description = isWindowsError ? GetSystemErrorText(code) : kNoDescription;
    return description;
}

std::int32_t ErrObj::GetCode() const {
    return code;
}

void ErrObj::Report(std::int32_t) {
    std::u16string text = GetDescription();
    std::int32_t value = GetCode();
    const char16_t* kind = isWindowsError ? kWindowsErrorKind : u"";
    WriteErrorLog(kErrorReportFormat, value, kind, text);
}

std::u16string ErrObj::GetSystemErrorText(std::int32_t code) {
    // System messages end in "\r\n"; insert sequences are left as the table has them.
    std::u16string text = platform::SystemMessageText(static_cast<std::uint32_t>(code));
    std::size_t end = text.find(u'\r');
    if (end != std::u16string::npos)
        text.resize(end);
    return text;
}

} // namespace pandel
