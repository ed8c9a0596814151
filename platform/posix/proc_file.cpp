// The kernel's text files under /proc, read to their end in pieces.
#include "platform/posix/proc_file.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace pandel::platform::native {

std::string ReadProcFile(const std::string& path, std::size_t maxBytes) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::string text;
    char piece[4096];
    while (text.size() < maxBytes) {
        const ssize_t n = read(fd, piece, sizeof piece);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n < 0)
                text.clear();
            break;
        }
        text.append(piece, static_cast<std::size_t>(n));
    }
    close(fd);
    if (text.size() > maxBytes)
        text.resize(maxBytes);
    return text;
}

} // namespace pandel::platform::native
