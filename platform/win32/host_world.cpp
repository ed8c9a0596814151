// The host's C++ world on Windows. A host built with mingw-w64 GCC shares the module's objects and
// exceptions. A host built with Microsoft's compiler (the 2015-2022 runtime, /MD, release) is
// spoken to in its own terms, by hand: its std::wstring for the command's name, and an ErrObj of
// its own layout (global namespace, its virtual table order) raised as its own C++ exception,
// with blocks freed by its runtime's free. Which compiler made the host is told by the imports
// of the module that holds the command object's virtual table.
#include "platform/host_world.h"

#include "platform/win32/windows_api.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

// Microsoft's member functions: `this` first, then a hidden result pointer, then the arguments;
// on x86 __thiscall (`this` in ECX, the rest on the stack, popped by the callee).
#if defined(__i386__)
#define PANDEL_HOST_MEMBER __attribute__((thiscall))
#else
#define PANDEL_HOST_MEMBER
#endif

namespace pandel::platform {
namespace {

// --- The host's runtime ------------------------------------------------------------------

using HostAllocate = void*(__cdecl*)(std::size_t);
using HostRelease = void(__cdecl*)(void*);

struct HostRuntime {
    HostAllocate allocate = nullptr;
    HostRelease release = nullptr;
};

// One C++ runtime serves every Microsoft-built module of a process (ucrtbase); what the host's
// copies of an ErrObj need after PostCommand has returned.
HostRuntime g_runtime;
ErrObjReport g_report = nullptr;

// --- Microsoft's std::wstring, release layout ----------------------------------------------

struct HostWString {
    union {
        wchar_t buffer[8];
        wchar_t* pointer;
    } text;
    std::size_t size;
    std::size_t capacity;
};
static_assert(sizeof(HostWString) == 16 + 2 * sizeof(void*), "Microsoft's std::wstring");

constexpr std::size_t kShortCapacity = 7; // what the inner buffer holds, its NUL aside
// Blocks of this size or more are aligned by the string's allocator, the block it took from
// the heap kept just before the text.
constexpr std::size_t kBigBlock = 4096;
constexpr std::size_t kBigAlignment = 32;

void MakeEmpty(HostWString& string) {
    string.text.buffer[0] = L'\0';
    string.size = 0;
    string.capacity = kShortCapacity;
}

const wchar_t* TextOf(const HostWString& string) {
    return string.capacity > kShortCapacity ? string.text.pointer : string.text.buffer;
}

std::u16string Read(const HostWString& string) {
    return win32::FromWide(TextOf(string), string.size);
}

void Release(HostWString& string) {
    if (string.capacity > kShortCapacity && string.text.pointer != nullptr) {
        void* block = string.text.pointer;
        if ((string.capacity + 1) * sizeof(wchar_t) >= kBigBlock)
            block = reinterpret_cast<void**>(block)[-1];
        g_runtime.release(block);
    }
    MakeEmpty(string);
}

// Text the host can free as its own string's; an empty string when there is no memory.
void Assign(HostWString& string, const std::u16string& text) {
    MakeEmpty(string);
    const std::size_t length = text.size();
    if (length <= kShortCapacity) {
        std::memcpy(string.text.buffer, text.data(), length * sizeof(wchar_t));
        string.text.buffer[length] = L'\0';
        string.size = length;
        return;
    }
    const std::size_t bytes = (length + 1) * sizeof(wchar_t);
    void* text16 = nullptr;
    if (bytes >= kBigBlock) {
        void* block = g_runtime.allocate(bytes + sizeof(void*) + kBigAlignment - 1);
        if (block == nullptr)
            return;
        const auto aligned =
            (reinterpret_cast<std::uintptr_t>(block) + sizeof(void*) + kBigAlignment - 1) &
            ~(kBigAlignment - 1);
        reinterpret_cast<void**>(aligned)[-1] = block;
        text16 = reinterpret_cast<void*>(aligned);
    } else {
        text16 = g_runtime.allocate(bytes);
        if (text16 == nullptr)
            return;
    }
    std::memcpy(text16, text.c_str(), bytes);
    string.text.pointer = static_cast<wchar_t*>(text16);
    string.size = length;
    string.capacity = length;
}

// --- The host's ErrObj ---------------------------------------------------------------------

// As the host's header declares it: the virtual table, then the fields in their order.
struct HostErrObj {
    const void* const* vftable;
    std::int32_t code;
    HostWString description;
    bool isWindowsError;
};

void PANDEL_HOST_MEMBER Destroy(HostErrObj* self) {
    Release(self->description);
}

// The virtual destructor's slot: Microsoft has one, which frees the object when flags say so.
HostErrObj* PANDEL_HOST_MEMBER DeletingDestructor(HostErrObj* self, unsigned flags) {
    Destroy(self);
    if ((flags & 1) != 0)
        g_runtime.release(self);
    return self;
}

// The module's ErrObj hands its description over already filled ("No desc" included).
HostWString* PANDEL_HOST_MEMBER GetDescription(const HostErrObj* self, HostWString* result) {
    Assign(*result, Read(self->description));
    return result;
}

std::int32_t PANDEL_HOST_MEMBER GetCode(const HostErrObj* self) {
    return self->code;
}

void PANDEL_HOST_MEMBER Report(HostErrObj* self, std::int32_t) {
    if (g_report != nullptr)
        g_report(EscapedErrObj{self->code, Read(self->description), self->isWindowsError});
}

const void* const kHostVftable[] = {reinterpret_cast<const void*>(DeletingDestructor),
                                    reinterpret_cast<const void*>(GetDescription),
                                    reinterpret_cast<const void*>(GetCode),
                                    reinterpret_cast<const void*>(Report)};

HostErrObj* PANDEL_HOST_MEMBER CopyConstruct(HostErrObj* self, const HostErrObj* from) {
    self->vftable = kHostVftable;
    self->code = from->code;
    self->isWindowsError = from->isWindowsError;
    Assign(self->description, Read(from->description));
    return self;
}

// --- Microsoft's C++ exception -------------------------------------------------------------

constexpr DWORD kCppException = 0xE06D7363; // 'msc'
constexpr ULONG_PTR kCppMagic = 0x19930520;
#if defined(__i386__)
constexpr DWORD kCppParameters = 3; // magic, object, throw information
#else
constexpr DWORD kCppParameters = 4; // and the image the throw information's offsets start from
#endif

// On x86-64 these hold offsets from the module's image base; on x86, addresses.
using Ref = std::int32_t;

struct TypeDescriptor {
    const void* vftable; // type_info's; never read to match a catch
    void* spare;
    char name[16];
};

struct CatchableType {
    std::uint32_t properties;
    Ref type;
    std::int32_t memberDisplacement;
    std::int32_t vbtableDisplacement;
    std::int32_t vdisplacement;
    std::int32_t size;
    Ref copyFunction;
};

struct CatchableTypeArray {
    std::int32_t count;
    Ref types[1];
};

struct ThrowInfo {
    std::uint32_t attributes;
    Ref destroy;
    Ref forwardCompat;
    Ref catchableTypes;
};

// The names a catch matches by: the host's ErrObj is a class in the global namespace.
TypeDescriptor g_type = {nullptr, nullptr, ".?AVErrObj@@"};
CatchableType g_catchable = {};
CatchableTypeArray g_catchables = {};
ThrowInfo g_throwInfo = {};
std::uintptr_t g_imageBase = 0;

Ref RefTo(const void* address) {
#if defined(__i386__)
    return static_cast<Ref>(reinterpret_cast<std::uintptr_t>(address));
#else
    return static_cast<Ref>(reinterpret_cast<std::uintptr_t>(address) - g_imageBase);
#endif
}

// Fills the throw information once; it lives in the module's image, as offsets need.
void PrepareThrowInfo() {
    static const bool prepared = [] {
        HMODULE self = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCWSTR>(&g_type), &self);
        g_imageBase = reinterpret_cast<std::uintptr_t>(self);
        g_catchable = {0,
                       RefTo(&g_type),
                       0,
                       -1,
                       0,
                       static_cast<std::int32_t>(sizeof(HostErrObj)),
                       RefTo(reinterpret_cast<const void*>(CopyConstruct))};
        g_catchables = {1, {RefTo(&g_catchable)}};
        g_throwInfo = {0, RefTo(reinterpret_cast<const void*>(Destroy)), 0, RefTo(&g_catchables)};
        return true;
    }();
    (void)prepared;
}

[[noreturn]] void Raise(HostErrObj* thrown) {
    PrepareThrowInfo();
    const ULONG_PTR arguments[4] = {kCppMagic, reinterpret_cast<ULONG_PTR>(thrown),
                                    reinterpret_cast<ULONG_PTR>(&g_throwInfo), g_imageBase};
    RaiseException(kCppException, EXCEPTION_NONCONTINUABLE, kCppParameters, arguments);
    TerminateProcess(GetCurrentProcess(), kCppException); // not continuable: never here
    __builtin_unreachable();
}

// --- Telling the host's compiler -----------------------------------------------------------

enum class HostKind { Own, Microsoft, Refused };

struct HostIdentity {
    HostKind kind = HostKind::Own;
    const char* why = ""; // for a refusal
    HostRuntime runtime;
};

bool SameName(const char* a, const char* b) {
    return lstrcmpiA(a, b) == 0;
}

// Each function the module imports by name: its library, its name and where its address is.
template <typename Visit> void ForEachImport(HMODULE module, Visit visit) {
    const auto base = reinterpret_cast<const std::uint8_t*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE)
        return;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE)
        return;
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0)
        return;
    for (auto* entry =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         entry->Name != 0; ++entry) {
        const char* library = reinterpret_cast<const char*>(base + entry->Name);
        const DWORD names =
            entry->OriginalFirstThunk != 0 ? entry->OriginalFirstThunk : entry->FirstThunk;
        const auto* name = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + names);
        auto* address = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
        bool any = false;
        for (; name->u1.AddressOfData != 0; ++name, ++address) {
            any = true;
            if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal))
                continue;
            const auto* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
            visit(library, reinterpret_cast<const char*>(byName->Name),
                  reinterpret_cast<void*>(address->u1.Function));
        }
        if (!any)
            visit(library, "", nullptr);
    }
}

HostIdentity IdentifyHost(void* command) {
    HostIdentity identity;
    const void* vftable = *static_cast<void* const*>(command);
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(vftable), &module))
        return identity;
    bool release = false;
    bool debug = false;
    ForEachImport(module, [&](const char* library, const char* name, void* address) {
        if (SameName(library, "vcruntime140d.dll") || SameName(library, "ucrtbased.dll"))
            debug = true;
        if (SameName(library, "vcruntime140.dll"))
            release = true;
        // The runtime's own functions, as the host's operator new and delete reach them.
        if (std::strcmp(name, "malloc") == 0)
            identity.runtime.allocate = reinterpret_cast<HostAllocate>(address);
        if (std::strcmp(name, "free") == 0)
            identity.runtime.release = reinterpret_cast<HostRelease>(address);
    });
    if (debug) {
        identity.kind = HostKind::Refused;
        identity.why = "the host was built with Microsoft's debug C++ runtime (vcruntime140d.dll), "
                       "whose strings this module cannot fill";
        return identity;
    }
    if (!release)
        return identity; // the module's own compiler
    HMODULE ucrt = GetModuleHandleW(L"ucrtbase.dll");
    if (identity.runtime.allocate == nullptr && ucrt != nullptr)
        identity.runtime.allocate =
            reinterpret_cast<HostAllocate>(reinterpret_cast<void*>(GetProcAddress(ucrt, "malloc")));
    if (identity.runtime.release == nullptr && ucrt != nullptr)
        identity.runtime.release =
            reinterpret_cast<HostRelease>(reinterpret_cast<void*>(GetProcAddress(ucrt, "free")));
    if (identity.runtime.allocate == nullptr || identity.runtime.release == nullptr) {
        identity.kind = HostKind::Refused;
        identity.why = "the host's C++ runtime has no malloc and free to be found";
        return identity;
    }
    identity.kind = HostKind::Microsoft;
    return identity;
}

// --- The command object --------------------------------------------------------------------

constexpr int kGetNameSlot = 1;
using GetNameFunction = std::int32_t(PANDEL_HOST_MEMBER*)(void* self, HostWString* name);

std::u16string HostCommandName(void* command) {
    HostWString name;
    MakeEmpty(name);
    const auto* slots = *static_cast<void* const* const*>(command);
    reinterpret_cast<GetNameFunction>(slots[kGetNameSlot])(command, &name);
    std::u16string text = Read(name);
    Release(name);
    return text;
}

} // namespace
} // namespace pandel::platform

// The host's direct calls (a catch by value destroys its copy; a copy made by hand; a call the
// compiler made non-virtual) reach these under the names Microsoft's compiler gives ErrObj's
// members (PluginPandel.def).
extern "C" {
pandel::platform::HostErrObj* PANDEL_HOST_MEMBER pandel_host_errobj_copy(
    pandel::platform::HostErrObj* self, const pandel::platform::HostErrObj* from) {
    return pandel::platform::CopyConstruct(self, from);
}
void PANDEL_HOST_MEMBER pandel_host_errobj_destroy(pandel::platform::HostErrObj* self) {
    pandel::platform::Destroy(self);
}
pandel::platform::HostWString* PANDEL_HOST_MEMBER pandel_host_errobj_description(
    const pandel::platform::HostErrObj* self, pandel::platform::HostWString* result) {
    return pandel::platform::GetDescription(self, result);
}
std::int32_t PANDEL_HOST_MEMBER pandel_host_errobj_code(const pandel::platform::HostErrObj* self) {
    return pandel::platform::GetCode(self);
}
void PANDEL_HOST_MEMBER pandel_host_errobj_report(pandel::platform::HostErrObj* self,
                                                  std::int32_t unused) {
    pandel::platform::Report(self, unused);
}
}

namespace pandel::platform {

std::int32_t ServeHostCommand(void* command, NameReader ownName, CommandRun run,
                              ErrObjReport report) {
    const HostIdentity host = IdentifyHost(command);
    if (host.kind == HostKind::Own)
        return run(command, ownName, nullptr);
    if (host.kind == HostKind::Refused) {
        std::fprintf(stderr, "PluginPandel: PostCommand refused: %s\n", host.why);
        std::fflush(stderr);
        return 0;
    }
    g_runtime = host.runtime;
    g_report = report;
    HostErrObj thrown;
    {
        std::optional<EscapedErrObj> escaped;
        const std::int32_t result = run(command, HostCommandName, &escaped);
        if (!escaped)
            return result;
        thrown.vftable = kHostVftable;
        thrown.code = escaped->code;
        thrown.isWindowsError = escaped->isWindowsError;
        Assign(thrown.description, escaped->description);
    }
    // The module's own objects are gone; the host's exception unwinds only the host's frames
    // below this one, and lives here until the host's catch has ended.
    Raise(&thrown);
}

} // namespace pandel::platform
