// pandel-host: loads a plug-in library the way the agent does and drives its exports from the
// command line, printing every call the plug-in makes on the host's command object.
//
//   pandel-host --plugin LIB [--agent-dir DIR] [--body-size N] [--no-terminator] CALL...
//   CALL: InitModule | UninitModule | GetInfo | RunTimeRoutine | GetPluginVersion | SetDbg
//         | PostCommand NAME BODYFILE
#include "examples/host/memory_command.h"
#include "pandel/err_obj.h"
#include "pandel/plugin_api.h"
#include "platform/shared_library.h"
#include "platform/wide_text.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <objbase.h>
#endif

namespace {

using example_host::MemoryCommand;

constexpr int kExitUsage = 2;
constexpr int kExitLoad = 1;
constexpr int kExitErrObj = 3;

const char* const kSimpleExports[] = {"InitModule",     "UninitModule",     "GetInfo",
                                      "RunTimeRoutine", "GetPluginVersion", "SetDbg"};

struct Options {
    std::string plugin;
    std::string agentDir;
    std::optional<std::int32_t> bodySize; // what GetSize reports instead of the real size
    bool terminator = true;               // whether the body ends in its null character
    std::vector<std::string> calls;
};

void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

// Prints every call the plug-in makes on the command object.
void SayHostCall(const char* operation, std::int32_t size) {
    if (std::strcmp(operation, "GetSize") == 0)
        Say("host: GetSize -> %" PRId32 "\n", size);
    else if (std::strcmp(operation, "ReadBody") == 0)
        Say("host: ReadBody %" PRId32 "\n", size);
    else
        Say("host: %s\n", operation);
}

int Usage() {
    std::fprintf(stderr, "usage: pandel-host --plugin LIB [--agent-dir DIR] [--body-size N] "
                         "[--no-terminator] CALL...\n"
                         "  CALL: InitModule | UninitModule | GetInfo | RunTimeRoutine | "
                         "GetPluginVersion | SetDbg\n"
                         "        | PostCommand NAME BODYFILE   (BODYFILE in UTF-8)\n");
    return kExitUsage;
}

bool IsSimpleExport(const std::string& name) {
    for (const char* simple : kSimpleExports) {
        if (name == simple)
            return true;
    }
    return false;
}

std::optional<Options> ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--plugin" && hasValue) {
            options.plugin = argv[++i];
        } else if (arg == "--agent-dir" && hasValue) {
            options.agentDir = argv[++i];
        } else if (arg == "--body-size" && hasValue) {
            options.bodySize = static_cast<std::int32_t>(std::strtol(argv[++i], nullptr, 10));
        } else if (arg == "--no-terminator") {
            options.terminator = false;
        } else if (IsSimpleExport(arg)) {
            options.calls.push_back(arg);
        } else if (arg == "PostCommand" && i + 2 < argc) {
            options.calls.push_back(arg);
            options.calls.push_back(argv[++i]);
            options.calls.push_back(argv[++i]);
        } else {
            return std::nullopt;
        }
    }
    if (options.plugin.empty() || options.calls.empty())
        return std::nullopt;
    return options;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

using SimpleExport = std::int32_t (*)();

int RunPostCommand(const platform::SharedLibrary& plugin, const Options& options,
                   const std::string& name, const std::string& bodyFile) {
    auto post = reinterpret_cast<pandel::PostCommandFunction>(plugin.Symbol("PostCommand"));
    if (post == nullptr) {
        std::fprintf(stderr, "pandel-host: the plug-in has no PostCommand\n");
        return kExitLoad;
    }
    std::optional<std::string> utf8 = ReadWholeFile(bodyFile);
    if (!utf8) {
        std::fprintf(stderr, "pandel-host: cannot read %s\n", bodyFile.c_str());
        return kExitUsage;
    }
    MemoryCommand command(platform::Utf8ToUtf16(name), platform::Utf8ToUtf16(*utf8),
                          options.terminator);
    if (options.bodySize)
        command.ReportSize(*options.bodySize);
    command.Observe(SayHostCall);
    try {
        std::int32_t result = post(&command);
        Say("PostCommand %s %s -> %" PRId32 "\n", name.c_str(), bodyFile.c_str(), result);
    } catch (pandel::ErrObj& error) {
        std::int32_t code = error.GetCode();
        std::string description = platform::Utf16ToUtf8(error.GetDescription());
        Say("PostCommand %s %s -> ErrObj code=%" PRId32 " (0x%08" PRIX32 ") description=%s\n",
            name.c_str(), bodyFile.c_str(), code, static_cast<std::uint32_t>(code),
            description.c_str());
        return kExitErrObj;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::optional<Options> options = ParseOptions(argc, argv);
    if (!options)
        return Usage();

#if defined(_WIN32)
    // The agent starts COM on the thread that calls the plug-in; the plug-in reads the agent's
    // configuration through it and never starts it itself.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
#endif

    // The agent's own library is loaded first; the plug-in finds Conf/agent.xml beside it.
    platform::SharedLibrary agent;
    if (!options->agentDir.empty()) {
        agent = platform::SharedLibrary::Open(options->agentDir + "/" +
                                              platform::SharedLibraryFileName("LibUpload"));
        if (!agent.IsOpen()) {
            std::fprintf(stderr, "pandel-host: cannot load the agent library: %s\n",
                         platform::SharedLibrary::Error().c_str());
            return kExitLoad;
        }
    }
    platform::SharedLibrary plugin = platform::SharedLibrary::Open(options->plugin);
    if (!plugin.IsOpen()) {
        std::fprintf(stderr, "pandel-host: cannot load %s: %s\n", options->plugin.c_str(),
                     platform::SharedLibrary::Error().c_str());
        return kExitLoad;
    }

    const std::vector<std::string>& calls = options->calls;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i] == "PostCommand") {
            int status = RunPostCommand(plugin, *options, calls[i + 1], calls[i + 2]);
            if (status != 0)
                return status;
            i += 2;
            continue;
        }
        auto simple = reinterpret_cast<SimpleExport>(plugin.Symbol(calls[i]));
        if (simple == nullptr) {
            std::fprintf(stderr, "pandel-host: the plug-in has no %s\n", calls[i].c_str());
            return kExitLoad;
        }
        Say("%s -> %" PRId32 "\n", calls[i].c_str(), simple());
    }
    return 0;
}
