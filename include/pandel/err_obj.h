// ErrObj, the module's exception: a processor fault on the thread that runs PostCommand becomes
// a thrown ErrObj that unwinds the frames between the fault and its handler. Exported with its
// type information and virtual table, so that a host built apart can catch it by type; a host
// that does links against the library.
#pragma once

#include "pandel/visibility.h"

#include <cstdint>
#include <string>

namespace pandel {

class PANDEL_CLASS_API ErrObj {
public:
    // An object carrying a Windows error code (isWindowsError) or an exception code; the module
    // makes the latter from a processor fault, named after its exception table.
    ErrObj(std::int32_t code, std::u16string description, bool isWindowsError);
    ErrObj(const ErrObj& other);
    ErrObj& operator=(const ErrObj& other);

    // The order of these is fixed: hosts built apart call them through the virtual table.
    virtual ~ErrObj();
    // The description; when empty, first filled once with the system's text for a Windows error
    // code, else with "No desc".
    virtual std::u16string GetDescription() const;
    // The exception code (0xC0000005 for an access violation, reported as -1073741819) or the
    // Windows error code.
    virtual std::int32_t GetCode() const;
    // Writes "Err occur, Code:<code>\t<kind>\n\t<description>" as one entry of the module's debug
    // log channel. The argument is not used.
    virtual void Report(std::int32_t unused);

    // The system's message for a Windows error code, up to its first carriage return; empty when
    // the system has none (always on POSIX).
    static std::u16string GetSystemErrorText(std::int32_t code);

private:
    std::int32_t code;
    mutable std::u16string description;
    bool isWindowsError;
};

} // namespace pandel
