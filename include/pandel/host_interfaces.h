// The host's command object as the module sees it: three interfaces of the host, reached only
// through virtual operations at fixed positions. A host derives its command object from them.
// The module never copies, keeps, frees or releases any of them, and uses them only during the
// PostCommand call they were handed to. The slots named HostSlot* belong to the host and are
// never called; a host that has nothing of its own there need not write them.
//
// Shared by hosts of both compilers: the command's name comes as the string of the host's
// runtime (pandel/host_command.h for GCC, pandel_plugin.h for Microsoft's compiler).
#pragma once

#include <cstdint>

namespace pandel {

// The body's description.
class IHostBodyInfo {
public:
    virtual std::int32_t HostSlot1() { return 0; }
    virtual std::int32_t HostSlot2() { return 0; }
    virtual std::int32_t HostSlot3() { return 0; }
    virtual std::int32_t HostSlot4() { return 0; }
    virtual std::int32_t HostSlot5() { return 0; }
    virtual std::int32_t HostSlot6() { return 0; }
    virtual std::int32_t HostSlot7() { return 0; }
    virtual std::int32_t HostSlot8() { return 0; }
    virtual std::int32_t HostSlot9() { return 0; }
    virtual std::int32_t HostSlot10() { return 0; }
    virtual std::int32_t HostSlot11() { return 0; }
    // The body's size in bytes, its terminating null character included.
    virtual std::int32_t GetSize() = 0;
};

// The command's body: its document as UTF-16 text ending in a null character.
class IHostCommandBody {
public:
    virtual IHostBodyInfo* GetBodyInfo() = 0;
    // Copies the body into buffer, which holds *size bytes. Result and *size afterwards are
    // not looked at.
    virtual std::int32_t ReadBody(void* buffer, std::int32_t* size) = 0;
};

// One command delivered to the module, its name a NameString of the host's runtime.
template <typename NameString> class BasicHostCommand {
public:
    virtual std::int32_t HostSlot1() { return 0; }
    // Assigns the command's name to *name, an empty string of the module's. The result is not
    // looked at.
    virtual std::int32_t GetName(NameString* name) = 0;
    virtual std::int32_t HostSlot3() { return 0; }
    virtual std::int32_t HostSlot4() { return 0; }
    virtual IHostCommandBody* GetBody() = 0;
};

} // namespace pandel
