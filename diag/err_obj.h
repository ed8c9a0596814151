// ErrObj, the module's exception: a processor fault on a thread that has installed SeTranslator
// becomes a thrown ErrObj that unwinds the frames between the fault and its handler. Exported
// with its type information and virtual table, so that a host built apart can catch it.
#pragma once

#include "diag/visibility.h"
#include "platform/fault.h"

#include <cstdint>
#include <string>

namespace pandel {

inline constexpr const char16_t* kNoDescription = u"No desc";
inline constexpr const char16_t* kWindowsErrorKind = u"Windows Error";
inline constexpr const char16_t* kErrorReportFormat = u"Err occur, Code:%d\t%s\n\t%s";

class PANDEL_VISIBLE ErrObj {
public:
    // From a fault's record: a code of the exception table gets its name as description; any
    // other code is kept with an empty description. isWindowsError is clear either way. A null
    // record counts as code 0.
    explicit ErrObj(const platform::FaultRecord* exceptionPointers);
    // An object carrying a Windows error code (isWindowsError) or an exception code.
    ErrObj(std::int32_t code, std::u16string description, bool isWindowsError);
    ErrObj(const ErrObj& other);
    ErrObj& operator=(const ErrObj& other);

    // The order of these is fixed: hosts built apart call them through the virtual table.
    virtual ~ErrObj();
    // The description; when empty, first filled once with the system's text for a Windows error
    // code, else with "No desc".
    virtual std::u16string GetDescription() const;
    virtual std::int32_t GetCode() const;
    // Writes "Err occur, Code:<code>\t<kind>\n\t<description>" as one entry of DbgLog. The
    // argument is not used.
    virtual void Report(std::int32_t unused);

    // The system's message for a Windows error code, up to its first carriage return; empty when
    // the system has none (always on POSIX).
    static std::u16string GetSystemErrorText(std::int32_t code);

private:
    std::int32_t code;
    mutable std::u16string description;
    bool isWindowsError;
};

// The module's fault translator: throws the ErrObj built from record. The code argument is not
// used; the record carries the same code.
[[noreturn]] void SeTranslator(std::uint32_t code, const platform::FaultRecord* record);

// Makes SeTranslator the calling thread's fault translator, discarding the one before, for the
// rest of the thread's life (see platform::InstallFaultTranslator).
void InstallSeTranslator();

} // namespace pandel
