// Loading and unloading the real library, warm (its files in the page cache), as a host does
// when it starts and stops the module; nothing else of the module is loaded in this process.
//
//   load_bench [--pairs N]           the timing, N batches (default 15)
//   load_bench --cycles N            N load and unload cycles; prints the resident memory after
//                                    1,000 and after N ("rss_after_1000_kib K", ...)
#include "bench/paired.h"
#include "bench/plugin_stage.h"
#include "platform/shared_library.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace platform = pandel::platform;

namespace {

constexpr long kFirstMark = 1000;

std::string PluginPath() {
    return pandel::bench::BuildDir() + "/plugin/libPluginPandel.so";
}

bool LoadAndUnload() {
    platform::SharedLibrary plugin = platform::SharedLibrary::Open(PluginPath());
    return plugin.IsOpen() && plugin.Symbol("PostCommand") != nullptr;
}

} // namespace

int main(int argc, char** argv) {
    char root[] = "/tmp/pandel-bench-XXXXXX";
    if (mkdtemp(root) == nullptr)
        return 1;
    setenv("PANDEL_ROOT", root, 1); // the log channels open their file under it at load
    mkdir((std::string(root) + "/C").c_str(), 0755);
    const std::string cleanup = std::string("rm -rf '") + root + "'";
    int status = 0;
    if (!LoadAndUnload()) {
        std::fprintf(stderr, "load_bench: %s\n", platform::SharedLibrary::Error().c_str());
        status = 1;
    } else if (argc == 3 && std::strcmp(argv[1], "--cycles") == 0) {
        const long cycles = std::atol(argv[2]);
        for (long i = 1; i <= cycles && status == 0; ++i) {
            if (!LoadAndUnload())
                status = 1;
            if (i == kFirstMark)
                std::printf("rss_after_%ld_kib %ld\n", kFirstMark, pandel::bench::ResidentKib());
        }
        std::printf("rss_after_%ld_kib %ld\n", cycles, pandel::bench::ResidentKib());
    } else {
        status = pandel::bench::RunCommandLine(
            {{"load and unload, warm", LoadAndUnload, {}, 0, {}, {}}}, argc, argv);
    }
    return std::system(cleanup.c_str()) == 0 ? status : 1;
}
