// A host built as Microsoft's compiler builds the terminals' hosts (clang for *-pc-windows-msvc,
// linked by lld-link against Wine's vcruntime140 and ucrtbase; no Microsoft header or library):
// it speaks pandel-host's command line and prints what pandel-host prints, so that the
// end-to-end cases run against it unchanged. Beyond pandel-host:
//   --catch ref|const|value|none   how PostCommand's ErrObj is caught (default ref; none: not
//                                  caught, the process ends as with any uncaught exception)
//   --repeat N                     every PostCommand N times
//   --report                       a caught ErrObj's Report(0) called too
//   --bad-body-info                GetBodyInfo answers an address nothing is mapped at: the
//                                  module faults in its own code
//   --heap                         at the end: "heap: host valid, N blocks left; module valid,
//                                  M blocks left", both heaps against after the first command
// Built /EHs by default; PANDEL_EHA for /EHa, without RTTI as a third kind.
#include "msvc/pandel_plugin.h"

#include <cstddef>
#include <cstdint>
#include <string>

// --- What Microsoft's static runtime part and headers would give ---------------------------

extern "C" {
void* __cdecl malloc(size_t bytes);
void __cdecl free(void* block);
void* __cdecl _get_heap_handle();
__declspec(dllimport) void* __stdcall GetStdHandle(unsigned long which);
__declspec(dllimport) int __stdcall WriteFile(void* file, const void* data, unsigned long size,
                                              unsigned long* written, void* overlapped);
__declspec(dllimport) void __stdcall ExitProcess(unsigned code);
__declspec(dllimport) void* __stdcall LoadLibraryW(const wchar_t* name);
__declspec(dllimport) void* __stdcall GetProcAddress(void* module, const char* name);
__declspec(dllimport) void* __stdcall GetModuleHandleW(const wchar_t* name);
__declspec(dllimport) wchar_t* __stdcall GetCommandLineW();
__declspec(dllimport) wchar_t** __stdcall CommandLineToArgvW(const wchar_t* line, int* count);
__declspec(dllimport) void* __stdcall CreateFileW(const wchar_t* name, unsigned long access,
                                                  unsigned long share, void* security,
                                                  unsigned long disposition, unsigned long flags,
                                                  void* templateFile);
__declspec(dllimport) int __stdcall ReadFile(void* file, void* data, unsigned long size,
                                             unsigned long* read, void* overlapped);
__declspec(dllimport) int __stdcall CloseHandle(void* handle);
__declspec(dllimport) unsigned long __stdcall GetFileSize(void* file, unsigned long* high);
__declspec(dllimport) int __stdcall MultiByteToWideChar(unsigned codePage, unsigned long flags,
                                                        const char* text, int length, wchar_t* wide,
                                                        int wideLength);
__declspec(dllimport) int __stdcall WideCharToMultiByte(unsigned codePage, unsigned long flags,
                                                        const wchar_t* wide, int wideLength,
                                                        char* text, int length,
                                                        const char* fallback, int* used);
__declspec(dllimport) int __stdcall HeapValidate(void* heap, unsigned long flags,
                                                 const void* block);
__declspec(dllimport) int __stdcall HeapWalk(void* heap, void* entry);
__declspec(dllimport) int __stdcall HeapLock(void* heap);
__declspec(dllimport) int __stdcall HeapUnlock(void* heap);
__declspec(dllimport) long __stdcall CoInitializeEx(void* reserved, unsigned long model);
}

void* operator new(size_t bytes) {
    return malloc(bytes);
}
void operator delete(void* block) noexcept {
    free(block);
}
void operator delete(void* block, size_t) noexcept {
    free(block);
}

// Microsoft's runtime defines type_info's virtual table in its static part; Wine's DLL does not
// export it.
extern "C" const void* const kTypeInfoVftable[1] __asm__("??_7type_info@@6B@");
extern "C" const void* const kTypeInfoVftable[1] = {nullptr};
extern "C" int _fltused = 0;

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitLoad = 1;
constexpr int kExitErrObj = 3;
constexpr unsigned kUtf8 = 65001;

// --- Output --------------------------------------------------------------------------------

void Write(const char* text, size_t length) {
    unsigned long written = 0;
    WriteFile(GetStdHandle(static_cast<unsigned long>(-11)), text,
              static_cast<unsigned long>(length), &written, nullptr);
}

class Line {
public:
    Line& operator<<(const char* text) {
        while (*text != '\0' && used_ + 1 < sizeof text_)
            text_[used_++] = *text++;
        return *this;
    }
    Line& operator<<(const std::wstring& text) {
        char narrow[8192];
        const int n = WideCharToMultiByte(kUtf8, 0, text.c_str(), static_cast<int>(text.size()),
                                          narrow, sizeof narrow - 1, nullptr, nullptr);
        narrow[n > 0 ? n : 0] = '\0';
        return *this << narrow;
    }
    Line& operator<<(long value) {
        char digits[24];
        int n = 0;
        const bool negative = value < 0;
        unsigned long magnitude =
            negative ? 0 - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
        do {
            digits[n++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (negative)
            *this << "-";
        while (n > 0) {
            const char digit[2] = {digits[--n], '\0'};
            *this << digit;
        }
        return *this;
    }
    Line& Hex(std::uint32_t value) {
        char digits[9];
        for (int i = 7; i >= 0; --i, value >>= 4)
            digits[i] = "0123456789ABCDEF"[value & 15];
        digits[8] = '\0';
        return *this << digits;
    }
    ~Line() { Write(text_, used_); }

private:
    char text_[4096];
    size_t used_ = 0;
};

// --- The command object --------------------------------------------------------------------

class Command final : public IHostCommand, public IHostCommandBody, public IHostBodyInfo {
public:
    Command(const std::wstring& name, const wchar_t* body, size_t units, bool terminator)
        : name_(name), body_(body), units_(units + (terminator ? 1 : 0)) {
        size_ = static_cast<std::int32_t>(units_ * 2);
    }
    void ReportSize(std::int32_t size) { size_ = size; }
    void BreakBodyInfo() { badInfo_ = true; }

    std::int32_t GetName(std::wstring* name) override {
        Line() << "host: GetName\n";
        *name = name_;
        return 0;
    }
    IHostCommandBody* GetBody() override {
        Line() << "host: GetBody\n";
        return this;
    }
    IHostBodyInfo* GetBodyInfo() override {
        Line() << "host: GetBodyInfo\n";
        return badInfo_ ? reinterpret_cast<IHostBodyInfo*>(16) : this;
    }
    std::int32_t ReadBody(void* buffer, std::int32_t* size) override {
        const std::int32_t room = size != nullptr ? *size : 0;
        Line() << "host: ReadBody " << static_cast<long>(room) << "\n";
        const size_t bytes = units_ * 2;
        const size_t copy = room > 0 ? (bytes < size_t(room) ? bytes : size_t(room)) : 0;
        for (size_t i = 0; buffer != nullptr && i < copy; ++i)
            static_cast<char*>(buffer)[i] = reinterpret_cast<const char*>(body_)[i];
        return 0;
    }
    std::int32_t GetSize() override {
        Line() << "host: GetSize -> " << static_cast<long>(size_) << "\n";
        return size_;
    }

private:
    std::wstring name_;
    const wchar_t* body_;
    size_t units_;
    std::int32_t size_;
    bool badInfo_ = false;
};

// --- Heaps ---------------------------------------------------------------------------------

struct HeapEntry {
    void* data;
    unsigned long size;
    unsigned char overhead;
    unsigned char regionIndex;
    unsigned short flags;
    unsigned char rest[24];
};
constexpr unsigned short kBusy = 4;

// Blocks in use in heap; -1 when it does not validate.
long BusyBlocks(void* heap) {
    if (heap == nullptr || !HeapValidate(heap, 0, nullptr))
        return -1;
    HeapEntry entry = {};
    long busy = 0;
    HeapLock(heap);
    while (HeapWalk(heap, &entry)) {
        if ((entry.flags & kBusy) != 0)
            ++busy;
    }
    HeapUnlock(heap);
    return busy;
}

// The module's C runtime heap (mingw-w64 GCC builds it against msvcrt).
void* ModuleHeap() {
    void* msvcrt = GetModuleHandleW(L"msvcrt.dll");
    using GetHeap = void*(__cdecl*)();
    auto get = msvcrt != nullptr
                   ? reinterpret_cast<GetHeap>(GetProcAddress(msvcrt, "_get_heap_handle"))
                   : nullptr;
    return get != nullptr ? get() : nullptr;
}

// --- The calls -----------------------------------------------------------------------------

enum class Catch { Reference, Const, Value, None };

struct Options {
    const wchar_t* plugin = nullptr;
    const wchar_t* agentDir = nullptr;
    bool bodySize = false;
    std::int32_t size = 0;
    bool terminator = true;
    Catch how = Catch::Reference;
    int repeat = 1;
    bool heap = false;
    bool report = false;
    bool badBodyInfo = false;
};

std::wstring Utf8ToWide(const char* text, int length) {
    std::wstring wide;
    if (length <= 0)
        return wide;
    wchar_t* buffer = static_cast<wchar_t*>(malloc((length + 1) * sizeof(wchar_t)));
    const int n = MultiByteToWideChar(kUtf8, 0, text, length, buffer, length);
    wide.assign(buffer, n > 0 ? n : 0);
    free(buffer);
    return wide;
}

long ParseNumber(const wchar_t* text) {
    bool negative = *text == L'-';
    if (negative)
        ++text;
    long value = 0;
    while (*text >= L'0' && *text <= L'9')
        value = value * 10 + (*text++ - L'0');
    return negative ? -value : value;
}

void Reported(const std::wstring& name, const std::wstring& file, const ErrObj& error) {
    Line() << "PostCommand " << name << " " << file
           << " -> ErrObj code=" << static_cast<long>(error.GetCode()) << " (0x";
    Line().Hex(static_cast<std::uint32_t>(error.GetCode()))
        << ") description=" << error.GetDescription() << "\n";
}

// One PostCommand with the ErrObj caught the way asked; false when one was.
bool Deliver(PostCommandFunction post, Command& command, const Options& options,
             const std::wstring& name, const std::wstring& file) {
    const auto call = [&] {
        const std::int32_t result = post(&command);
        Line() << "PostCommand " << name << " " << file << " -> " << static_cast<long>(result)
               << "\n";
    };
    switch (options.how) {
    case Catch::None:
        call();
        return true;
    case Catch::Reference:
        try {
            call();
            return true;
        } catch (ErrObj& error) {
            Reported(name, file, error);
            if (options.report)
                error.Report(0);
        }
        return false;
    case Catch::Const:
        try {
            call();
            return true;
        } catch (const ErrObj& error) {
            Reported(name, file, error);
        }
        return false;
    case Catch::Value:
        try {
            call();
            return true;
        } catch (ErrObj error) {
            Reported(name, file, error);
            if (options.report)
                error.Report(0);
        }
        return false;
    }
    return true;
}

int Run(int argc, wchar_t** argv) {
    Options options;
    int i = 1;
    for (; i < argc && argv[i][0] == L'-'; ++i) {
        const std::wstring option = argv[i];
        const bool hasValue = i + 1 < argc;
        auto is = [&](const wchar_t* name) {
            const wchar_t* a = argv[i];
            while (*a == *name && *a != L'\0')
                ++a, ++name;
            return *a == *name;
        };
        if (is(L"--plugin") && hasValue) {
            options.plugin = argv[++i];
        } else if (is(L"--agent-dir") && hasValue) {
            options.agentDir = argv[++i];
        } else if (is(L"--body-size") && hasValue) {
            options.bodySize = true;
            options.size = static_cast<std::int32_t>(ParseNumber(argv[++i]));
        } else if (is(L"--no-terminator")) {
            options.terminator = false;
        } else if (is(L"--repeat") && hasValue) {
            options.repeat = static_cast<int>(ParseNumber(argv[++i]));
        } else if (is(L"--bad-body-info")) {
            options.badBodyInfo = true;
        } else if (is(L"--report")) {
            options.report = true;
        } else if (is(L"--heap")) {
            options.heap = true;
        } else if (is(L"--catch") && hasValue) {
            const wchar_t how = argv[++i][0];
            options.how = how == L'c'   ? Catch::Const
                          : how == L'v' ? Catch::Value
                          : how == L'n' ? Catch::None
                                        : Catch::Reference;
        } else {
            Line() << "msvc-host: unknown option " << option << "\n";
            return kExitUsage;
        }
    }
    if (options.plugin == nullptr)
        return kExitUsage;
    CoInitializeEx(nullptr, 2 /* COINIT_APARTMENTTHREADED */);
    if (options.agentDir != nullptr) {
        const std::wstring agent = options.agentDir;
        const wchar_t* file = L"\\LibUpload.dll";
        wchar_t joined[1024];
        size_t n = 0;
        for (const wchar_t* p = agent.c_str(); *p != L'\0' && n < 1000; ++p)
            joined[n++] = *p;
        for (const wchar_t* p = file; *p != L'\0' && n < 1020; ++p)
            joined[n++] = *p;
        joined[n] = L'\0';
        if (LoadLibraryW(joined) == nullptr) {
            Line() << "msvc-host: cannot load the agent library\n";
            return kExitLoad;
        }
    }
    void* plugin = LoadLibraryW(options.plugin);
    if (plugin == nullptr) {
        Line() << "msvc-host: cannot load " << std::wstring(options.plugin) << "\n";
        return kExitLoad;
    }
    void* const hostHeap = _get_heap_handle();
    void* const moduleHeap = ModuleHeap();
    // Counted after the first command: what the module keeps for good (its XML library, COM's
    // objects) is made then.
    long hostBefore = -1;
    long moduleBefore = -1;
    int status = 0;
    for (; i < argc && status == 0; ++i) {
        const std::wstring call = argv[i];
        char narrow[64];
        const int n =
            WideCharToMultiByte(kUtf8, 0, argv[i], -1, narrow, sizeof narrow, nullptr, nullptr);
        if (n <= 0)
            return kExitUsage;
        void* entry = GetProcAddress(plugin, narrow);
        if (entry == nullptr) {
            Line() << "msvc-host: the plug-in has no " << call << "\n";
            return kExitLoad;
        }
        if (call.size() != 11 || narrow[0] != 'P' || narrow[4] != 'C') {
            Line() << call << " -> "
                   << static_cast<long>(reinterpret_cast<SimpleExportFunction>(entry)()) << "\n";
            continue;
        }
        if (i + 2 >= argc)
            return kExitUsage;
        const std::wstring name = argv[++i];
        const std::wstring file = argv[++i];
        void* handle = CreateFileW(file.c_str(), 0x80000000 /* GENERIC_READ */, 1, nullptr,
                                   3 /* OPEN_EXISTING */, 0, nullptr);
        if (handle == reinterpret_cast<void*>(-1))
            return kExitUsage;
        const unsigned long size = GetFileSize(handle, nullptr);
        char* content = static_cast<char*>(malloc(size + 1));
        unsigned long read = 0;
        if (content == nullptr || !ReadFile(handle, content, size, &read, nullptr))
            read = 0;
        CloseHandle(handle);
        const std::wstring body = Utf8ToWide(content, static_cast<int>(read));
        free(content);
        for (int round = 0; round < options.repeat; ++round) {
            Command command(name, body.c_str(), body.size(), options.terminator);
            if (options.bodySize)
                command.ReportSize(options.size);
            if (options.badBodyInfo)
                command.BreakBodyInfo();
            if (!Deliver(reinterpret_cast<PostCommandFunction>(entry), command, options, name,
                         file))
                status = kExitErrObj;
            if (hostBefore < 0) {
                hostBefore = BusyBlocks(hostHeap);
                moduleBefore = BusyBlocks(moduleHeap);
            }
        }
    }
    if (options.heap) {
        Line() << "heap: host " << (BusyBlocks(hostHeap) < 0 ? "invalid" : "valid") << ", "
               << BusyBlocks(hostHeap) - hostBefore << " blocks left; module "
               << (BusyBlocks(moduleHeap) < 0 ? "invalid" : "valid") << ", "
               << BusyBlocks(moduleHeap) - moduleBefore << " blocks left\n";
    }
    return status;
}

} // namespace

extern "C" int mainCRTStartup() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    ExitProcess(static_cast<unsigned>(Run(argc, argv)));
    return 0;
}
