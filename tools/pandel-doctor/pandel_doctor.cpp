// pandel-doctor: an operator's check of a terminal. Each answer comes from the module's own
// functions, run in this process as they would run inside the agent's. Usage: pandel-doctor --help.
#include "config/agent_config.h"
#include "platform/platform.h"
#include "platform/shared_library.h"
#include "tools/common/tool_options.h"
#include "tools/pandel-doctor/checks.h"
#include "tools/pandel-doctor/host_directory_platform.h"

#include <cstdio>
#include <memory>
#include <string>

namespace platform = pandel::platform;

namespace {

constexpr int kExitReady = 0;
constexpr int kExitNotReady = 1;

const pandel::tools::ToolUsage kUsage = {
    "pandel-doctor", "pandel-doctor [--agent-dir DIR] [--host-dir DIR] [--probe] [--json]\n",
    "\nChecks a terminal as the module sees it and explains, one line each, what it found: a\n"
    "mark ([ ok ], [warn], [FAIL]), what it means, and the fix when it is not ok.\n"
    "  --agent-dir DIR    the agent's directory: its agent library and Conf/agent.xml\n"
    "                     (default: the agent library as the loader finds it, else the host's)\n"
    "  --host-dir DIR     the host executable's directory: Conf/ProxyInfo.xml\n"
    "                     (default: pandel-doctor's own directory)\n"
    "  --probe            also send one reachability document to the server\n"
    "  --json             the findings as one JSON object\n"
    "  --help, --version  this text; the version\n"
    "PANDEL_ROOT names the machine's fixed places (log, registry, locks) as for the module.\n"
    "Exit status: 0 a Download could run and report, 1 it could not, 2 wrong usage.\n"};

struct Options {
    std::string agentDir;
    std::string hostDir;
    bool probe = false;
    bool json = false;
};

Options ParseOptions(int argc, char** argv) {
    Options options;
    pandel::tools::ReadOnlyOptions(
        kUsage, argc, argv,
        {{"agent-dir", true, [&](const char* value) { options.agentDir = value; }},
         {"host-dir", true, [&](const char* value) { options.hostDir = value; }},
         {"probe", false, [&](const char*) { options.probe = true; }},
         {"json", false, [&](const char*) { options.json = true; }}});
    return options;
}

// The agent library, loaded as the agent host loads it: the module then finds Conf/agent.xml
// beside it. Without --agent-dir, wherever the loader finds it, if anywhere.
platform::SharedLibrary LoadAgentLibrary(const Options& options,
                                         pandel::doctor::Findings& findings) {
    const std::string fileName = platform::SharedLibraryFileName(pandel::kAgentLibraryName);
    const std::string where =
        options.agentDir.empty() ? fileName : options.agentDir + "/" + fileName;
    platform::SharedLibrary agent = platform::SharedLibrary::Open(where);
    if (agent.IsOpen()) {
        findings.Ok("agent library", platform::Current().LoadedLibraryPath(fileName));
        return agent;
    }
    if (options.agentDir.empty()) {
        findings.Ok("agent library",
                    fileName + " not found by the loader: Conf/agent.xml is looked for beside "
                               "the host executable, as the module does without it");
        return agent;
    }
    findings.Fail("agent library",
                  "cannot load " + where + " (" +
                      pandel::doctor::Shown(platform::SharedLibrary::Error()) +
                      "): the module looks for Conf/agent.xml beside the host executable instead",
                  "give the agent's directory, the one holding " + fileName);
    return agent;
}

} // namespace

int main(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv);
    std::unique_ptr<pandel::doctor::HostDirectoryPlatform> hostPlatform;
    std::unique_ptr<platform::ScopedPlatform> installed;
    if (!options.hostDir.empty()) {
        hostPlatform = std::make_unique<pandel::doctor::HostDirectoryPlatform>(options.hostDir);
        installed = std::make_unique<platform::ScopedPlatform>(*hostPlatform);
    }

    pandel::doctor::Findings findings;
    findings.Ok("machine root", platform::Current().FixedPlacePath("C:\\") +
                                    " is drive C (PANDEL_ROOT names the machine's fixed places)");
    const platform::SharedLibrary agent = LoadAgentLibrary(options, findings);
    const std::string serviceUrl = pandel::doctor::CheckAgentConfig(findings);
    pandel::doctor::CheckProxy(findings, serviceUrl);
    pandel::doctor::CheckLocalAddresses(findings);
    pandel::doctor::CheckLog(findings);
    pandel::doctor::CheckImagingLibrary(findings);
    pandel::doctor::CheckIdentity(findings);
    pandel::doctor::CheckNamedLocks(findings);
    if (options.probe)
        pandel::doctor::CheckProbe(findings, serviceUrl);

    const std::string report = options.json ? findings.AsJson() : findings.AsText();
    std::fputs(report.c_str(), stdout);
    std::fflush(stdout);
    return findings.Ready() ? kExitReady : kExitNotReady;
}
