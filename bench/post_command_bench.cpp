// PostCommand of the real library in-process: a dropped command (FileType 6), and a Download
// task with one adapter whose imaging call returns at once (one report to a loopback server).
// The stand-in imaging library's directory must be on LD_LIBRARY_PATH (scripts/bench sets it).
#include "bench/plugin_stage.h"

#include <benchmark/benchmark.h>

#include <cstdio>

namespace {

using pandel::bench::MakeCommand;
using pandel::bench::PluginStage;

PluginStage* stage = nullptr;

void BM_PostCommandDropped(benchmark::State& state) {
    auto command = MakeCommand(u"Download", PluginStage::DroppedDocument());
    for (auto _ : state)
        stage->Post(command);
}

void BM_PostCommandDownload(benchmark::State& state) {
    auto command = MakeCommand(u"Download", PluginStage::UploadDocument());
    const std::uint64_t before = stage->server().requests();
    for (auto _ : state)
        stage->Post(command);
    // Each task sends its one report (101); the server answers before SendReport returns.
    if (stage->server().requests() - before != static_cast<std::uint64_t>(state.iterations()))
        state.SkipWithError("a task sent no report");
}

BENCHMARK(BM_PostCommandDropped)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_PostCommandDownload)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    PluginStage s;
    stage = &s;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    stage = nullptr;
    return 0;
}
