// GCC's exception tables as its personality routine reads them: where an instruction stands in
// a function's call-site table. Used by the fault translation to tell beforehand whether an
// exception thrown at a fault would be taken by a frame.
#pragma once

#include <cstdint>

namespace pandel::platform::win32 {

enum class CallSite {
    kNotCovered,   // GCC ends the program (std::terminate) for an exception from here
    kNoLandingPad, // unwinding passes on to the caller
    kLandingPad,   // a catch or a cleanup runs here
    kUnknown,      // tables in a form not understood
};

// Where ip stands in the call-site table (lsda, GCC's language-specific data area) of the
// function that starts at regionStart. A null lsda has no landing pad anywhere.
CallSite FindCallSite(const void* lsda, std::uint64_t regionStart, std::uint64_t ip);

} // namespace pandel::platform::win32
