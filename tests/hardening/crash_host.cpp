// A host with crash handling of its own: its SIGSEGV handler ends the process with status 42.
// It loads the module, runs a command on two threads, maybe unloads (and loads again), then
// faults. Usage: crash_host LIBRARY SCENARIO
//   loaded     the fault comes while the module is loaded, on a thread it never ran on
//   unloaded   on the main thread, after the module was unloaded
//   reloaded   after it was unloaded, loaded and used again, and unloaded again
// Prints "mapped" or "unmapped": whether the module is still mapped when the fault comes.
#include "pandel/memory_command.h"
#include "pandel/plugin_api.h"

#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace {

constexpr int kHostHandled = 42;

void OnSegv(int) {
    _exit(kHostHandled);
}

// Loads the module and runs one command on the calling thread and one on a thread of its own.
void* LoadAndUse(const char* library) {
    void* module = dlopen(library, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        std::fprintf(stderr, "crash_host: %s\n", dlerror());
        _exit(2);
    }
    auto post = reinterpret_cast<pandel::PostCommandFunction>(dlsym(module, "PostCommand"));
    // Not a Download: the module installs its translator and returns.
    pandel::MemoryCommand command(u"Other", u"");
    post(&command);
    std::thread([&] { post(&command); }).join();
    return module;
}

// The library's file as the kernel names its mappings: the link resolved.
bool ModuleMapped(const char* library) {
    char* file = realpath(library, nullptr);
    const std::string path = file != nullptr ? file : library;
    std::free(file);
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        if (line.size() > path.size() &&
            line.compare(line.size() - path.size(), path.size(), path) == 0)
            return true;
    }
    return false;
}

// A real fault, not a finding of the sanitizers the suite may run under.
__attribute__((no_sanitize("undefined", "address"))) void Fault() {
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3)
        return 2;
    const char* library = argv[1];
    const std::string scenario = argv[2];
    struct sigaction ours {};
    ours.sa_handler = OnSegv;
    sigemptyset(&ours.sa_mask);
    sigaction(SIGSEGV, &ours, nullptr);

    void* module = LoadAndUse(library);
    if (scenario == "unloaded" || scenario == "reloaded")
        dlclose(module);
    if (scenario == "reloaded")
        dlclose(LoadAndUse(library));
    std::printf("%s\n", ModuleMapped(library) ? "mapped" : "unmapped");
    std::fflush(stdout);
    // Loaded, on a thread the module never ran on; unloaded, on the thread it translated on.
    if (scenario == "loaded")
        std::thread(Fault).join();
    else
        Fault();
    return 0;
}
