// Registry on POSIX: each key a directory under the root's registry tree, each value a file
// holding its raw bytes.
#include "platform/registry.h"

#include "platform/fixed_places.h"
#include "platform/plain_names.h"
#include "platform/wide_text.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pandel::platform::native {
namespace {

constexpr const char* kMachineHive = "registry/HKEY_LOCAL_MACHINE";
constexpr const char* kTemporaryPattern = "/.value-XXXXXX";
constexpr mode_t kKeyMode = 0755;
constexpr mode_t kValueMode = 0644;

// The directory of key ("Software\\Orvane\\X"); nothing when a part could leave the hive.
std::optional<std::string> KeyDirectory(const std::u16string& key) {
    std::string dir = RootDirectory() + "/" + kMachineHive;
    const std::string path = Utf16ToUtf8(key);
    if (path.empty())
        return dir;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = path.find('\\', start);
        const std::string part = path.substr(start, end - start);
        if (!IsPlainName(part))
            return std::nullopt;
        dir += "/" + part;
        if (end == std::string::npos)
            return dir;
        start = end + 1;
    }
}

std::optional<std::string> ValuePath(const std::u16string& key, const std::u16string& name) {
    const std::string file = Utf16ToUtf8(name);
    if (!IsPlainName(file))
        return std::nullopt;
    std::optional<std::string> dir = KeyDirectory(key);
    if (!dir)
        return std::nullopt;
    return *dir + "/" + file;
}

// Creates dir and any missing parents; true when it is a directory afterwards.
bool EnsureDirectory(const std::string& dir) {
    struct stat info;
    if (stat(dir.c_str(), &info) == 0)
        return S_ISDIR(info.st_mode);
    const std::size_t slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !EnsureDirectory(dir.substr(0, slash)))
        return false;
    if (mkdir(dir.c_str(), kKeyMode) == 0)
        return true;
    return errno == EEXIST && stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string DirectoryOf(const std::string& path) {
    return path.substr(0, path.find_last_of('/'));
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

bool RegistryValueExists(const std::u16string& key, const std::u16string& name) {
    std::optional<std::string> path = ValuePath(key, name);
    struct stat info;
    return path && stat(path->c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::optional<std::vector<std::uint8_t>>
RegistryReadValue(const std::u16string& key, const std::u16string& name, std::size_t maxBytes) {
    std::optional<std::string> path = ValuePath(key, name);
    // Reading opens the key the way the module's reads do, creating it when missing.
    if (!path || !EnsureDirectory(DirectoryOf(*path)))
        return std::nullopt;
    const int fd = open(path->c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return std::nullopt;
    }
    std::vector<std::uint8_t> data;
    std::uint8_t chunk[4096];
    bool failed = false;
    while (true) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            failed = n < 0;
            break;
        }
        if (static_cast<std::size_t>(n) > maxBytes - data.size()) {
            failed = true; // the data do not fit
            break;
        }
        data.insert(data.end(), chunk, chunk + n);
    }
    close(fd);
    if (failed)
        return std::nullopt;
    return data;
}

bool RegistryWriteValue(const std::u16string& key, const std::u16string& name,
                        const std::vector<std::uint8_t>& data) {
    std::optional<std::string> path = ValuePath(key, name);
    if (!path)
        return false;
    const std::string dir = DirectoryOf(*path);
    if (!EnsureDirectory(dir))
        return false;
    // Written beside its place and renamed over it, a value is seen whole or not at all.
    std::string temporary = dir + kTemporaryPattern;
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool written =
        fchmod(fd, kValueMode) == 0 && WriteAll(fd, data.data(), data.size()) && fsync(fd) == 0;
    const bool closed = close(fd) == 0;
    if (!written || !closed || rename(temporary.c_str(), path->c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace pandel::platform::native
