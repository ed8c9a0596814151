// Regular files on POSIX: opened without blocking, sized with fstat, read in one call; appended
// to through a close-on-exec stream.
#include "platform/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace pandel::platform {

std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t maxBytes) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return std::nullopt;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0) {
        close(fd);
        return std::nullopt;
    }
    // The size fstat gives is read at once; a file that grows meanwhile is read as it was then,
    // one that shrinks ends where its data does.
    std::string content(std::min(static_cast<std::size_t>(info.st_size), maxBytes), '\0');
    std::size_t filled = 0;
    bool failed = false;
    while (filled < content.size()) {
        const ssize_t n = read(fd, &content[filled], content.size() - filled);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            failed = true;
            break;
        }
        if (n == 0)
            break;
        filled += static_cast<std::size_t>(n);
    }
    close(fd);
    if (failed)
        return std::nullopt;
    content.resize(filled);
    return content;
}

std::FILE* OpenForAppending(const std::string& path) {
    return std::fopen(path.c_str(), "a+be"); // 'e': O_CLOEXEC
}

} // namespace pandel::platform
