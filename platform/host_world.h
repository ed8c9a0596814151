// The C++ world of the host that calls PostCommand: how the command's name and an escaping
// ErrObj cross into it. A host built with the module's own compiler shares the module's
// objects and exceptions; one built with Microsoft's compiler (Windows) gets its std::wstring
// and an ErrObj of its own layout, raised as its own exception. Compile-time only: tests drive
// real hosts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace pandel::platform {

// What escaped a command as the module's ErrObj, to be raised again in the host's world.
struct EscapedErrObj {
    std::int32_t code = 0;
    std::u16string description; // as GetDescription gave it
    bool isWindowsError = false;
};

// Reads the command's name from the host's command object (its GetName).
using NameReader = std::u16string (*)(void* command);

// Runs one command, with the command's name read by readName. With escaped null an ErrObj
// passes on; otherwise it is caught and stored there, and the run returns.
using CommandRun = std::int32_t (*)(void* command, NameReader readName,
                                    std::optional<EscapedErrObj>* escaped);

// Writes an ErrObj's report ("Err occur, ..." in the debug log) for the host's copy of one.
using ErrObjReport = void (*)(const EscapedErrObj& error);

// Serves one PostCommand of the host whose command object this is. A host of the module's own
// compiler: run(command, ownName, nullptr). A Microsoft-built host (release runtime, /MD): its
// name read into its std::wstring, and an ErrObj that escaped raised again as the host's C++
// exception once the run has returned, its Report written by report. Any other host (a debug
// runtime, a static one) is refused: a line on standard error saying why, nothing asked of the
// command object, 0.
std::int32_t ServeHostCommand(void* command, NameReader ownName, CommandRun run,
                              ErrObjReport report);

} // namespace pandel::platform
