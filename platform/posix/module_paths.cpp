// Module file names on POSIX: the dynamic loader's list of loaded objects, the process's
// mappings and /proc/self/exe.
#include "platform/module_paths.h"

#include "platform/posix/proc_file.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <link.h>
#include <sstream>
#include <unistd.h>

namespace pandel::platform::native {
namespace {

constexpr std::size_t kMaxMapsText = 16 * 1024 * 1024;

struct Search {
    const std::string* fileName;
    std::string found;
    std::uintptr_t mappedAt = 0; // an address inside the object's first loaded segment
};

// The file mapped at address, as the kernel names it: an absolute path, whatever the name that
// the object was loaded by and wherever the process has moved since.
std::string FileMappedAt(std::uintptr_t address) {
    std::istringstream maps(ReadProcFile("/proc/self/maps", kMaxMapsText));
    std::string line;
    while (std::getline(maps, line)) {
        unsigned long start = 0;
        unsigned long end = 0;
        int pathAt = 0;
        if (std::sscanf(line.c_str(), "%lx-%lx %*s %*s %*s %*s %n", &start, &end, &pathAt) < 2 ||
            pathAt == 0)
            continue;
        if (address < start || address >= end)
            continue;
        const std::string path = line.substr(static_cast<std::size_t>(pathAt));
        return !path.empty() && path[0] == '/' ? path : std::string();
    }
    return {};
}

int VisitObject(struct dl_phdr_info* info, size_t, void* data) {
    auto* search = static_cast<Search*>(data);
    if (info->dlpi_name == nullptr || info->dlpi_name[0] == '\0')
        return 0;
    const char* path = info->dlpi_name;
    const char* slash = std::strrchr(path, '/');
    const char* base = slash ? slash + 1 : path;
    if (*search->fileName != base)
        return 0;
    search->found = path;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        if (info->dlpi_phdr[i].p_type == PT_LOAD) {
            search->mappedAt = info->dlpi_addr + info->dlpi_phdr[i].p_vaddr;
            break;
        }
    }
    return 1;
}

} // namespace

std::string LoadedLibraryPath(const std::string& fileName) {
    if (fileName.empty())
        return {};
    Search search{&fileName, {}};
    dl_iterate_phdr(VisitObject, &search);
    if (search.found.empty() || search.found[0] == '/')
        return search.found;
    // The loader keeps a relative name as dlopen was given it; joining it to today's directory
    // would name another place once the host has changed directory.
    return FileMappedAt(search.mappedAt);
}

namespace {

std::string ReadExecutableLink() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof path)
        return {};
    return std::string(path, static_cast<size_t>(n));
}

} // namespace

// The executable is the process's own for its whole life, and the path is kept as it was when
// first seen, as Windows keeps the module name it loaded the program by: a program file moved or
// deleted later does not move the host's directory. Looked up again until it has been had once.
std::string HostExecutablePath() {
    static const std::string first = ReadExecutableLink();
    return first.empty() ? ReadExecutableLink() : first;
}

} // namespace pandel::platform::native
