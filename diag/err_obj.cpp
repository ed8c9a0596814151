// ErrObj: its copies, its description and its report.
#include "pandel/err_obj.h"

#include "diag/log_module.h"
#include "platform/fault.h"

namespace pandel {
namespace {

constexpr const char16_t* kNoDescription = u"No desc";
constexpr const char16_t* kWindowsErrorKind = u"Windows Error";
constexpr const char16_t* kErrorReportFormat = u"Err occur, Code:%d\t%s\n\t%s";

} // namespace

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
