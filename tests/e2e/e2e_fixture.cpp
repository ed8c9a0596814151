// The end-to-end stage's setup and helpers.
#include "tests/e2e/e2e_fixture.h"

#include "harness/agent_xml.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace pandel::test {
namespace {

#if defined(PANDEL_WINE_RUNNER)
constexpr bool kUnderWine = true;
const char* const kWineRunner = PANDEL_WINE_RUNNER;
const std::string kWindowsArch = PANDEL_WINDOWS_ARCH;
#else
constexpr bool kUnderWine = false;
const char* const kWineRunner = "";
const std::string kWindowsArch;
#endif

// Set by scripts/test-windows when the build's programs cannot run on this machine, with why.
const char* CannotRunReason() {
    const char* reason = std::getenv("PANDEL_WINE_CANNOT_RUN");
    return kUnderWine && reason != nullptr && *reason != '\0' ? reason : nullptr;
}

// The programs' and libraries' file names of the build under test.
struct Files {
    const char* host;
    const char* plugin;
    const char* agentBuilt;
    const char* agentInstalled;
};
const Files kFiles = kUnderWine
                         ? Files{"tools/pandel-host/pandel-host.exe", "plugin/PluginPandel.dll",
                                 "tools/libupload/LibUpload.dll", "LibUpload.dll"}
                         : Files{"tools/pandel-host/pandel-host", "plugin/libPluginPandel.so",
                                 "tools/libupload/libLibUpload.so", "libLibUpload.so"};

} // namespace

std::string EndToEnd::HostProgram() {
    const char* host = std::getenv("PANDEL_E2E_HOST");
    return host != nullptr && *host != '\0' ? host : kFiles.host;
}

std::string EndToEnd::Build(const std::string& relative) {
    return std::string(PANDEL_BUILD_DIR) + "/" + relative;
}

bool EndToEnd::UnderWine() {
    return kUnderWine;
}

bool EndToEnd::Windows32Bit() {
    return kWindowsArch == "i686";
}

ProcessResult EndToEnd::Wine(const std::vector<std::string>& arguments, int timeoutMs) {
    std::vector<std::string> argv = {kWineRunner, "--run"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    ProcessResult result = RunProcess(argv, {{"PANDEL_WIN_BUILD", PANDEL_BUILD_DIR}}, timeoutMs);
    result.out.erase(std::remove(result.out.begin(), result.out.end(), '\r'), result.out.end());
    return result;
}

std::string EndToEnd::TargetPath(const std::string& path) {
    if (!kUnderWine)
        return path;
    std::string windows = "Z:" + path;
    std::replace(windows.begin(), windows.end(), '/', '\\');
    return windows;
}

std::string EndToEnd::LogPath() const {
    return kUnderWine ? Build("wineprefix/drive_c/runtime.log") : root_.Sub("C/runtime.log");
}

EndToEnd::LogLock::LogLock() {
    if (!kUnderWine)
        return;
    fd_ = open(Build("wineprefix/runtime.log.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0)
        flock(fd_, LOCK_EX);
}

EndToEnd::LogLock::~LogLock() {
    if (fd_ >= 0)
        close(fd_); // releases the lock
}

void EndToEnd::SetUp() {
    if (const char* reason = CannotRunReason())
        GTEST_SKIP() << reason;
    plugin_ = TargetPath(Build(kFiles.plugin));
    agentDir_ = root_.Sub("agent");
    MakeDirectories(agentDir_ + "/Conf");
    WriteFile(agentDir_ + "/" + kFiles.agentInstalled, ReadFile(Build(kFiles.agentBuilt)));
    server_ = std::make_unique<LoopbackServer>();
    WriteAgentConfig("127.0.0.1", std::to_string(server_->port()));
    ScriptImaging("");
}

void EndToEnd::WriteAgentConfig(const std::string& ip, const std::string& port) {
    ASSERT_TRUE(WriteAgentXml(agentDir_, {ip, port}));
}

void EndToEnd::ScriptImaging(const std::string& script) {
    WriteFile(root_.Sub("imaging.script"), script);
}

ProcessResult EndToEnd::Host(const std::vector<std::string>& calls, int timeoutMs) {
    std::vector<std::string> argv;
    if (kUnderWine)
        argv = {kWineRunner, "--run"};
    argv.insert(argv.end(),
                {Build(HostProgram()), "--plugin", plugin_, "--agent-dir", TargetPath(agentDir_)});
    for (const std::string& call : calls) {
        // Body files are the only paths among the calls.
        bool isPath = call.rfind(root_.path(), 0) == 0;
        argv.push_back(isPath ? TargetPath(call) : call);
    }
    std::map<std::string, std::string> env = {
        {"PANDEL_ROOT", root_.path()},
        {"XPE_CLIENT_SCRIPT", TargetPath(root_.Sub("imaging.script"))},
        {"XPE_CLIENT_JOURNAL", TargetPath(root_.Sub("imaging.journal"))},
        {"LD_LIBRARY_PATH", Build("tools/xpe-client")}};
    env.insert(hostEnv_.begin(), hostEnv_.end());
    if (kUnderWine) {
        // The runner takes its prefix from the build; the imaging library is found on the path.
        env["PANDEL_WIN_BUILD"] = PANDEL_BUILD_DIR;
        // A host linked against the module's import library finds the module there too.
        env["WINEPATH"] = TargetPath(Build("tools/xpe-client")) + ";" + TargetPath(Build("plugin"));
    }
    ProcessResult result = RunProcess(argv, env, timeoutMs);
    // Windows ends the lines of standard output in CR LF.
    result.out.erase(std::remove(result.out.begin(), result.out.end(), '\r'), result.out.end());
    return result;
}

ProcessResult EndToEnd::Post(const std::string& name, const std::string& body,
                             const std::vector<std::string>& hostOptions) {
    std::string file = root_.Sub("body.xml");
    WriteFile(file, body);
    std::vector<std::string> calls = hostOptions;
    calls.insert(calls.end(), {"PostCommand", name, file});
    return Host(calls);
}

std::vector<std::string> EndToEnd::Journal() {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(root_.Sub("imaging.journal")));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> EndToEnd::Reports() {
    std::vector<std::string> reports;
    for (const std::string& raw : server_->Requests())
        reports.push_back(ElementText(raw, "xIn"));
    return reports;
}

std::string EndToEnd::Download(const std::string& fields) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Download>" + fields + "</Download>";
}

std::string EndToEnd::TaskStatus(int scheduleId, int progress) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Root><TaskStatusResponse><ScheduleId>" +
           std::to_string(scheduleId) + "</ScheduleId><Progress>" + std::to_string(progress) +
           "</Progress><ErrorInfo></ErrorInfo></TaskStatusResponse></Root>";
}

} // namespace pandel::test
