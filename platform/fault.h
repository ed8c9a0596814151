// Processor faults on a thread turned into exceptions by a translator, and the system's texts
// for Windows error codes. Compile-time only: tests provoke real faults.
#pragma once

#include <cstdint>
#include <string>

namespace pandel::platform {

// The Windows exception codes that faults are reported with.
inline constexpr std::uint32_t kAccessViolation = 0xC0000005u;
inline constexpr std::uint32_t kDatatypeMisalignment = 0x80000002u;
inline constexpr std::uint32_t kInPageError = 0xC0000006u;
inline constexpr std::uint32_t kIllegalInstruction = 0xC000001Du;
inline constexpr std::uint32_t kPrivilegedInstruction = 0xC0000096u;
inline constexpr std::uint32_t kIntDivideByZero = 0xC0000094u;
inline constexpr std::uint32_t kIntOverflow = 0xC0000095u;
inline constexpr std::uint32_t kStackOverflow = 0xC00000FDu;
inline constexpr std::uint32_t kArrayBoundsExceeded = 0xC000008Cu;
inline constexpr std::uint32_t kFloatDivideByZero = 0xC000008Eu;
inline constexpr std::uint32_t kFloatInexactResult = 0xC000008Fu;
inline constexpr std::uint32_t kFloatInvalidOperation = 0xC0000090u;
inline constexpr std::uint32_t kFloatOverflow = 0xC0000091u;
inline constexpr std::uint32_t kFloatUnderflow = 0xC0000093u;

// What a fault delivers to its translator, in place of Windows' exception pointers.
struct FaultRecord {
    std::uint32_t code; // the Windows exception code
};

// Called on the faulting thread, at the point of the fault, with the fault's code and record.
// It must throw; the exception unwinds the frames between the fault and its handler.
using FaultTranslator = void (*)(std::uint32_t code, const FaultRecord* record);

// Makes translator the calling thread's fault translator, replacing the one before; it stays
// until the thread ends. From then on an access violation, a misaligned access (where the
// processor checks alignment), an in-page error, an illegal or privileged instruction, an integer
// division by zero or overflow, an unmasked floating-point exception and a stack overflow on this
// thread reach translator. The first
// call on a thread gives it an alternate signal stack (unless it has one big enough already), so
// that a stack overflow can be handled. Faults on other threads, and signals sent rather than
// raised by a fault, keep what they had before the first call: the handler the process had
// installed, or the default action.
//
// Limits: a fault inside the C library's allocator may deadlock, because throwing allocates;
// a second stack overflow while the first one's exception unwinds ends the process.
void InstallFaultTranslator(FaultTranslator translator);

// The system's message text for a Windows error code, as the system's message table holds it
// (line end included); empty when it has none. POSIX has no table for Windows codes: always
// empty there.
std::u16string SystemMessageText(std::uint32_t code);

} // namespace pandel::platform
