// PostCommand of the real library in-process: a dropped command (FileType 6), a Download task
// with one adapter whose imaging call returns at once (one report to a loopback server), and one
// whose upload fails (two reports: 101, then -50) beside two raw exchanges of the same bytes.
// The stand-in imaging library's directory must be on LD_LIBRARY_PATH (scripts/bench sets it).
#include "bench/paired.h"
#include "bench/plugin_stage.h"
#include "bench/raw_client.h"

#include <cstdio>
#include <vector>

namespace {

using pandel::bench::AnsweringServer;
using pandel::bench::MakeCommand;
using pandel::bench::MemoryCommand;
using pandel::bench::PluginStage;

constexpr const char* kUploadFails = "UploadImgWithAdapter 7\n";

PluginStage* stage = nullptr;
std::string taskStarted; // the 101 report's request, byte for byte
std::string taskFailed;  // the -50 report's

MemoryCommand* dropped = nullptr;
MemoryCommand* upload = nullptr;

bool PostDropped() {
    const std::uint64_t before = stage->server().RequestCount();
    stage->Post(*dropped);
    return stage->server().RequestCount() == before;
}

// The server counts each report before it answers, so the count is complete when Post returns.
bool PostWithReports(std::uint64_t reports) {
    const std::uint64_t before = stage->server().RequestCount();
    stage->Post(*upload);
    return stage->server().RequestCount() - before == reports;
}

bool TwoRawExchanges() {
    const long expected = static_cast<long>(AnsweringServer::Answer().size());
    const std::uint16_t port = stage->server().port();
    return pandel::bench::RawExchange(port, taskStarted) == expected &&
           pandel::bench::RawExchange(port, taskFailed) == expected;
}

std::vector<pandel::bench::Comparison> Comparisons() {
    return {
        {"PostCommand, FileType 6 (dropped)", PostDropped, {}, 0, {}, {}},
        {"PostCommand, upload task, 1 report", [] { return PostWithReports(1); }, {}, 0, {}, {}},
        {"PostCommand, failed upload, 2 reports", [] { return PostWithReports(2); },
         TwoRawExchanges, 3.0, [] { stage->ScriptImaging(kUploadFails); },
         [] { stage->ScriptImaging(""); }},
    };
}

} // namespace

int main(int argc, char** argv) {
    PluginStage s;
    stage = &s;
    // The raw side sends what the module sent for the two reports of a failed task.
    MemoryCommand command = MakeCommand(u"Download", PluginStage::UploadDocument());
    s.Post(command);
    taskStarted = s.server().LastRequest();
    s.ScriptImaging(kUploadFails);
    s.Post(command);
    taskFailed = s.server().LastRequest();
    s.ScriptImaging("");
    if (taskStarted.empty() || taskFailed.empty() || taskStarted == taskFailed) {
        std::fprintf(stderr, "post_command_bench: the two reports of a failed task are missing\n");
        return 1;
    }
    MemoryCommand droppedCommand = MakeCommand(u"Download", PluginStage::DroppedDocument());
    dropped = &droppedCommand;
    upload = &command;
    const int status = pandel::bench::RunCommandLine(Comparisons(), argc, argv);
    stage = nullptr;
    return status;
}
