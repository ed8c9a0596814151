// PluginPandel.dll for hosts built with Microsoft's C++ compiler (the 2015-2022 runtime, /MD,
// release build): the host's command interfaces, the module's exception ErrObj, and the seven
// entry points. Link PluginPandel.lib, or load the DLL and take the entry points by name; either
// way ErrObj's members come from the import library.
//
// The host derives its command object from the three interfaces, initialises COM on the thread
// that calls PostCommand, and catches ErrObj by reference, const reference or value: a processor
// fault on that thread during PostCommand (in the module or in the imaging library) leaves it as
// an ErrObj, once the module's own frames have run their destructors.
#pragma once

#include "pandel/host_interfaces.h"

#include <cstdint>
#include <string>

// The host's command object: the three interfaces of pandel/host_interfaces.h, the name as the
// runtime's std::wstring.
using IHostBodyInfo = pandel::IHostBodyInfo;
using IHostCommandBody = pandel::IHostCommandBody;
class IHostCommand : public pandel::BasicHostCommand<std::wstring> {};

// The module's exception. Copies live in the host's memory and are freed by its runtime.
class __declspec(dllimport) ErrObj {
public:
    ErrObj(const ErrObj& other);
    ErrObj& operator=(const ErrObj&) = delete;
    virtual ~ErrObj();
    // The fault's name ("EXCEPTION_ACCESS_VIOLATION"), or "No desc".
    virtual std::wstring GetDescription() const;
    // The exception code: 0xC0000005, as a signed number -1073741819, for an access violation.
    virtual std::int32_t GetCode() const;
    // Writes "Err occur, Code:<code>\t<kind>\n\t<description>" to the module's debug log.
    virtual void Report(std::int32_t unused);

private:
    std::int32_t code;
    std::wstring description;
    bool isWindowsError;
};

extern "C" {
__declspec(dllimport) std::int32_t __cdecl InitModule();
__declspec(dllimport) std::int32_t __cdecl UninitModule();
__declspec(dllimport) std::int32_t __cdecl GetInfo();
__declspec(dllimport) std::int32_t __cdecl RunTimeRoutine();
__declspec(dllimport) std::int32_t __cdecl GetPluginVersion();
__declspec(dllimport) std::int32_t __cdecl SetDbg();
__declspec(dllimport) std::int32_t __cdecl PostCommand(IHostCommand* command);
}

// For hosts that take the entry points by name.
using PostCommandFunction = std::int32_t(__cdecl*)(IHostCommand* command);
using SimpleExportFunction = std::int32_t(__cdecl*)();
