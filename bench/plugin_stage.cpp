// The in-process plug-in stage: directories, environment, libraries and the host's objects.
#include "bench/plugin_stage.h"

#include "harness/agent_xml.h"
#include "platform/wide_text.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace pandel::bench {
namespace {

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "bench: %s\n", what.c_str());
    std::exit(1);
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out)
        Fail("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        Fail("cannot read " + path);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void MakeDirectory(const std::string& path) {
    if (mkdir(path.c_str(), 0755) != 0)
        Fail("cannot create " + path);
}

void RemoveTree(const std::string& path) {
    if (path.size() < 8 || path.rfind("/tmp/", 0) != 0)
        return;
    std::string command = "rm -rf '" + path + "'";
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "bench: could not remove %s\n", path.c_str());
}

} // namespace

std::string BuildDir() {
    return PANDEL_BUILD_DIR;
}

MemoryCommand MakeCommand(std::u16string name, const std::string& utf8Body) {
    return MemoryCommand(std::move(name), platform::Utf8ToUtf16(utf8Body));
}

PluginStage::PluginStage(const std::string& journalPath) {
    char pattern[] = "/tmp/pandel-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        Fail("cannot create a temporary directory");
    root_ = pattern;
    MakeDirectory(root_ + "/C");
    MakeDirectory(root_ + "/agent");
    MakeDirectory(root_ + "/agent/Conf");
    server_ = std::make_unique<AnsweringServer>();
    if (!test::WriteAgentXml(root_ + "/agent", {"127.0.0.1", std::to_string(server_->port())}))
        Fail("cannot write " + root_ + "/agent/Conf/agent.xml");
    WriteFile(root_ + "/agent/libLibUpload.so",
              ReadFile(BuildDir() + "/tools/libupload/libLibUpload.so"));
    ScriptImaging("");
    setenv("PANDEL_ROOT", root_.c_str(), 1);
    setenv("XPE_CLIENT_SCRIPT", (root_ + "/imaging.script").c_str(), 1);
    setenv("XPE_CLIENT_JOURNAL", journalPath.c_str(), 1);

    agent_ = platform::SharedLibrary::Open(root_ + "/agent/libLibUpload.so");
    if (!agent_.IsOpen())
        Fail("cannot load the agent library: " + platform::SharedLibrary::Error());
    plugin_ = platform::SharedLibrary::Open(BuildDir() + "/plugin/libPluginPandel.so");
    if (!plugin_.IsOpen())
        Fail("cannot load the plug-in: " + platform::SharedLibrary::Error());
    post_ = reinterpret_cast<pandel::PostCommandFunction>(plugin_.Symbol("PostCommand"));
    if (post_ == nullptr)
        Fail("the plug-in has no PostCommand");
}

PluginStage::~PluginStage() {
    plugin_ = platform::SharedLibrary();
    agent_ = platform::SharedLibrary();
    server_.reset();
    RemoveTree(root_);
}

void PluginStage::ScriptImaging(const std::string& lines) {
    WriteFile(root_ + "/imaging.script", lines);
}

std::string PluginStage::UploadDocument() {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Download><FileType>7</FileType>"
           "<Command>upload</Command><ScheduleId>42</ScheduleId><BackupType>0</BackupType>"
           "<StartMode>2</StartMode><ServerAddr>10.1.2.3</ServerAddr><ServerPort>9000"
           "</ServerPort></Download>";
}

std::string PluginStage::DroppedDocument() {
    std::string document = UploadDocument();
    document.replace(document.find("<FileType>7"), 11, "<FileType>6");
    return document;
}

long ResidentKib() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

} // namespace pandel::bench
