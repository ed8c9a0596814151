// Module file names on POSIX: the dynamic loader's list of loaded objects and /proc/self/exe.
#include "platform/module_paths.h"

#include <cstring>
#include <link.h>
#include <unistd.h>

namespace platform::native {
namespace {

struct Search {
    const std::string* fileName;
    std::string found;
};

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
    // The loader records the path as it was given to dlopen; make it absolute as Windows does.
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr)
        return search.found;
    return std::string(cwd) + "/" + search.found;
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

} // namespace platform::native
