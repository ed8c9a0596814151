// pandel-host: loads a plug-in library the way the agent does and drives its exports from the
// command line, printing every call the plug-in makes on the host's command object.
//
// Usage: pandel-host --help.
#include "pandel/memory_command.h"
#include "pandel/plugin_api.h"
#include "platform/platform.h"
#include "platform/shared_library.h"
#include "platform/wide_text.h"
#include "tools/common/tool_options.h"
#include "tools/pandel-host/host_catch.h"

#include <cinttypes>
#include <climits>
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

namespace platform = pandel::platform;

namespace {

using pandel::MemoryCommand;

using pandel::tools::kExitUsage;
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

const pandel::tools::ToolUsage kUsage = {
    "pandel-host",
    "pandel-host --plugin LIB [--agent-dir DIR] [--body-size N] [--no-terminator] CALL...\n"
    "  CALL: InitModule | UninitModule | GetInfo | RunTimeRoutine | GetPluginVersion | SetDbg\n"
    "        | PostCommand NAME BODYFILE   (BODYFILE in UTF-8, delivered as UTF-16)\n",
    "\nLoads the plug-in LIB as the agent does and calls each CALL in order, printing every call\n"
    "the plug-in makes on the host's command object and each export's result.\n"
    "  --plugin LIB       the plug-in library to load\n"
    "  --agent-dir DIR    load DIR's agent library first: the plug-in reads DIR/Conf/agent.xml\n"
    "  --body-size N      report N bytes as the body's size (-2147483648 to 2147483647)\n"
    "  --no-terminator    deliver the body without its null character\n"
    "  --help, --version  this text; the version\n"
    "Exit status: 0 done, 1 a library or export could not be loaded, 2 wrong usage,\n"
    "3 an ErrObj escaped PostCommand. Lines on standard error come from the plug-in (its log\n"
    "place, the SOAP runtime's faults); see pandel-doctor for what they mean.\n"};

bool IsSimpleExport(const std::string& name) {
    for (const char* simple : kSimpleExports) {
        if (name == simple)
            return true;
    }
    return false;
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    const int first = pandel::tools::ReadOptions(
        kUsage, argc, argv,
        {{"plugin", true, [&](const char* value) { options.plugin = value; }},
         {"agent-dir", true, [&](const char* value) { options.agentDir = value; }},
         {"body-size", true,
          [&](const char* value) {
              options.bodySize = static_cast<std::int32_t>(
                  pandel::tools::NumberOption(kUsage, "--body-size", value, INT32_MIN, INT32_MAX));
          }},
         {"no-terminator", false, [&](const char*) { options.terminator = false; }}});
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        if (IsSimpleExport(arg)) {
            options.calls.push_back(arg);
        } else if (arg == "PostCommand") {
            if (i + 2 >= argc)
                pandel::tools::UsageError(kUsage, "PostCommand needs a NAME and a BODYFILE");
            const std::string name = argv[++i];
            const std::string bodyFile = argv[++i];
            // A directory or a device would reach the plug-in as an empty or endless body.
            const std::string problem = pandel::tools::InputFileProblem(bodyFile);
            if (!problem.empty())
                pandel::tools::UsageError(kUsage, "PostCommand body file: " + problem);
            options.calls.insert(options.calls.end(), {arg, name, bodyFile});
        } else if (!arg.empty() && arg[0] == '-') {
            pandel::tools::UsageError(kUsage, "unknown option " + arg);
        } else {
            pandel::tools::UsageError(kUsage, "unknown call " + arg);
        }
    }
    if (options.plugin.empty())
        pandel::tools::UsageError(kUsage, "--plugin LIB is required");
    if (options.calls.empty())
        pandel::tools::UsageError(kUsage, "no CALL given");
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

constexpr std::size_t kDescriptionSize = 4096;

// pandel-host-catch, from the directory of this executable in a build tree, else from the
// private library directory beside an installed one.
platform::SharedLibrary OpenHostCatch() {
    const std::string self = platform::Current().HostExecutablePath();
    const std::size_t cut = self.find_last_of("/\\");
    const std::string dir = cut == std::string::npos ? std::string() : self.substr(0, cut + 1);
    const std::string file = platform::SharedLibraryFileName(kHostCatchLibraryName);
    platform::SharedLibrary beside = platform::SharedLibrary::Open(dir + file);
    if (beside.IsOpen())
        return beside;
    return platform::SharedLibrary::Open(dir + "../" + PANDEL_HOST_CATCH_INSTALLED_DIR + "/" +
                                         file);
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
    platform::SharedLibrary catcher = OpenHostCatch();
    auto deliver = reinterpret_cast<HostCatchFunction>(catcher.Symbol(kHostCatchFunctionName));
    if (deliver == nullptr) {
        std::fprintf(stderr, "pandel-host: cannot load %s beside pandel-host: %s\n",
                     platform::SharedLibraryFileName(kHostCatchLibraryName).c_str(),
                     platform::SharedLibrary::Error().c_str());
        return kExitLoad;
    }
    std::int32_t result = 0;
    std::int32_t code = 0;
    char description[kDescriptionSize] = {};
    if (deliver(post, &command, &result, &code, description, sizeof description) == 0) {
        Say("PostCommand %s %s -> %" PRId32 "\n", name.c_str(), bodyFile.c_str(), result);
        return 0;
    }
    Say("PostCommand %s %s -> ErrObj code=%" PRId32 " (0x%08" PRIX32 ") description=%s\n",
        name.c_str(), bodyFile.c_str(), code, static_cast<std::uint32_t>(code), description);
    return kExitErrObj;
}

} // namespace

int main(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv);

#if defined(_WIN32)
    // The agent starts COM on the thread that calls the plug-in; the plug-in reads the agent's
    // configuration through it and never starts it itself.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
#endif

    // The agent's own library is loaded first; the plug-in finds Conf/agent.xml beside it.
    platform::SharedLibrary agent;
    if (!options.agentDir.empty()) {
        agent = platform::SharedLibrary::Open(options.agentDir + "/" +
                                              platform::SharedLibraryFileName("LibUpload"));
        if (!agent.IsOpen()) {
            std::fprintf(stderr, "pandel-host: cannot load the agent library: %s\n",
                         platform::SharedLibrary::Error().c_str());
            return kExitLoad;
        }
    }
    platform::SharedLibrary plugin = platform::SharedLibrary::Open(options.plugin);
    if (!plugin.IsOpen()) {
        std::fprintf(stderr, "pandel-host: cannot load %s: %s\n", options.plugin.c_str(),
                     platform::SharedLibrary::Error().c_str());
        return kExitLoad;
    }

    const std::vector<std::string>& calls = options.calls;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i] == "PostCommand") {
            int status = RunPostCommand(plugin, options, calls[i + 1], calls[i + 2]);
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
