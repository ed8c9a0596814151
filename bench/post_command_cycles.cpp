// A loop of PostCommand Download cycles against the real library, for the memory checks: runs
// under valgrind for leaks, and prints its resident memory after 1,000 cycles and at the end.
//
//   post-command-cycles CYCLES
//
// Prints "rss_after_1000_kib N", "rss_after_CYCLES_kib N" and "reports N". Exit status 1 when a
// cycle sent no report.
#include "bench/plugin_stage.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

constexpr long kFirstMark = 1000;

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::atol(argv[1]) <= 0) {
        std::fprintf(stderr, "usage: post-command-cycles CYCLES\n");
        return 2;
    }
    const long cycles = std::atol(argv[1]);
    int status = 0;
    {
        pandel::bench::PluginStage stage;
        auto command =
            pandel::bench::MakeCommand(u"Download", pandel::bench::PluginStage::UploadDocument());
        for (long i = 1; i <= cycles; ++i) {
            stage.Post(command);
            if (i == kFirstMark)
                std::printf("rss_after_%ld_kib %ld\n", kFirstMark, pandel::bench::ResidentKib());
        }
        std::printf("rss_after_%ld_kib %ld\n", cycles, pandel::bench::ResidentKib());
        const auto reports = stage.server().RequestCount();
        std::printf("reports %llu\n", static_cast<unsigned long long>(reports));
        if (reports != static_cast<unsigned long long>(cycles))
            status = 1;
    }
    return status;
}
