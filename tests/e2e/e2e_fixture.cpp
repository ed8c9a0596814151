// The end-to-end stage's setup and helpers.
#include "tests/e2e/e2e_fixture.h"

#include <sstream>

namespace pandel::test {

std::string EndToEnd::Build(const std::string& relative) {
    return std::string(PANDEL_BUILD_DIR) + "/" + relative;
}

void EndToEnd::SetUp() {
    agentDir_ = root_.Sub("agent");
    MakeDirectories(agentDir_ + "/Conf");
    WriteFile(agentDir_ + "/libLibUpload.so", ReadFile(Build("tools/libupload/libLibUpload.so")));
    server_ = std::make_unique<LoopbackServer>();
    WriteAgentConfig("127.0.0.1", std::to_string(server_->port()));
    ScriptImaging("");
}

void EndToEnd::WriteAgentConfig(const std::string& ip, const std::string& port) {
    WriteFile(agentDir_ + "/Conf/agent.xml",
              "<?xml version=\"1.0\"?><Root><Server><Ip>" + ip + "</Ip><Port>" + port +
                  "</Port><RemoteApp>DeviceManager</RemoteApp><RemoteAppEndpoint>DeviceConfig"
                  "</RemoteAppEndpoint></Server></Root>");
}

void EndToEnd::ScriptImaging(const std::string& script) {
    WriteFile(root_.Sub("imaging.script"), script);
}

ProcessResult EndToEnd::Host(const std::vector<std::string>& calls, int timeoutMs) {
    std::vector<std::string> argv = {Build("tools/pandel-host/pandel-host"), "--plugin",
                                     Build("plugin/libPluginPandel.so"), "--agent-dir", agentDir_};
    argv.insert(argv.end(), calls.begin(), calls.end());
    return RunProcess(argv,
                      {{"PANDEL_ROOT", root_.path()},
                       {"XPE_CLIENT_SCRIPT", root_.Sub("imaging.script")},
                       {"XPE_CLIENT_JOURNAL", root_.Sub("imaging.journal")},
                       {"LD_LIBRARY_PATH", Build("tools/xpe-client")}},
                      timeoutMs);
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
