// Named locks on POSIX: flock on one file per name in the root's locks directory.
#include "platform/named_lock.h"

#include "platform/fixed_places.h"
#include "platform/plain_names.h"
#include "platform/posix/proc_file.h"
#include "platform/wide_text.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace pandel::platform::native {
namespace {

constexpr const char* kLocksDirectory = "locks";
// Every account on the machine shares the locks, as the named events they stand for are open to
// all; the sticky bit keeps one account from removing another's lock file from under it.
constexpr mode_t kLocksDirectoryMode = 01777;
// flock needs only read access, so every account can take a lock that nobody else may write.
constexpr mode_t kLockFileMode = 0644;
// A lock file removed or created by another process between our two opens is tried again.
constexpr int kOpenAttempts = 4;
constexpr std::size_t kMaxProcText = 1024 * 1024;

// Creates dir and any missing parents; true when it is a directory afterwards.
bool EnsureDirectory(const std::string& dir, mode_t mode) {
    struct stat info;
    if (stat(dir.c_str(), &info) == 0)
        return S_ISDIR(info.st_mode);
    const std::size_t slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !EnsureDirectory(dir.substr(0, slash), 0755))
        return false;
    if (mkdir(dir.c_str(), mode) == 0) {
        chmod(dir.c_str(), mode); // the umask must not narrow who may share it
        return true;
    }
    return errno == EEXIST && stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Anyone may put anything at a lock's place, a hard link to a file of someone else's included:
// an existing file is opened without O_CREAT and never changed, and only a file this call
// creates (O_EXCL) gets its mode. Without O_CREAT the kernel's protected_regular also lets us
// open a lock file that another account made. O_NONBLOCK: a FIFO or a device at the place must
// not block the open; only a regular file is a lock, checked once the open came back.
int OpenLockFile(const std::string& path) {
    constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        int fd = open(path.c_str(), kFlags | O_CLOEXEC);
        if (fd >= 0 || errno != ENOENT)
            return fd;
        fd = open(path.c_str(), kFlags | O_CLOEXEC | O_CREAT | O_EXCL, kLockFileMode);
        if (fd >= 0) {
            fchmod(fd, kLockFileMode); // the umask must not narrow who may share it
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    errno = EAGAIN;
    return -1;
}

// The command line of a process, its arguments separated by blanks; empty when it is gone.
std::string CommandLineOf(long pid) {
    std::string text = ReadProcFile("/proc/" + std::to_string(pid) + "/cmdline", kMaxProcText);
    while (!text.empty() && text.back() == '\0')
        text.pop_back();
    for (char& c : text) {
        if (c == '\0')
            c = ' ';
    }
    return text;
}

} // namespace

std::string NamedLockPlace(const std::u16string& name) {
    return RootDirectory() + "/" + kLocksDirectory + "/" + Utf16ToUtf8(name);
}

LockHandle OpenNamedLock(const std::u16string& name) {
    if (!IsPlainLockName(name))
        return kNoLock;
    const std::string dir = RootDirectory() + "/" + kLocksDirectory;
    const std::string path = NamedLockPlace(name);
    // The directory is made only when it is missing, not looked at on every use.
    int fd = OpenLockFile(path);
    if (fd < 0 && errno == ENOENT && EnsureDirectory(dir, kLocksDirectoryMode))
        fd = OpenLockFile(path);
    if (fd < 0)
        return kNoLock;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return kNoLock;
    }
    return fd;
}

bool WaitNamedLock(LockHandle lock) {
    if (lock < 0)
        return false;
    while (flock(static_cast<int>(lock), LOCK_EX) != 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

void SignalNamedLock(LockHandle lock) {
    if (lock >= 0)
        flock(static_cast<int>(lock), LOCK_UN);
}

void CloseNamedLock(LockHandle lock) {
    if (lock >= 0)
        close(static_cast<int>(lock));
}

NamedLockState ProbeNamedLock(const std::u16string& name) {
    const LockHandle lock = OpenNamedLock(name);
    if (lock == kNoLock)
        return NamedLockState::Unusable;
    int taken = -1;
    do {
        taken = flock(static_cast<int>(lock), LOCK_EX | LOCK_NB);
    } while (taken != 0 && errno == EINTR);
    const bool wouldBlock = taken != 0 && errno == EWOULDBLOCK;
    SignalNamedLock(lock);
    CloseNamedLock(lock);
    if (taken == 0)
        return NamedLockState::Free;
    return wouldBlock ? NamedLockState::Held : NamedLockState::Unusable;
}

// /proc/locks names each lock's file as major:minor:inode (the device numbers in hex) and the
// process that took it; a line with "->" is a waiter, not a holder.
std::vector<LockHolder> NamedLockHolders(const std::u16string& name) {
    std::vector<LockHolder> holders;
    struct stat info;
    if (!IsPlainLockName(name) || lstat(NamedLockPlace(name).c_str(), &info) != 0 ||
        !S_ISREG(info.st_mode))
        return holders;
    char file[64];
    std::snprintf(file, sizeof file, "%02x:%02x:%lu", major(info.st_dev), minor(info.st_dev),
                  static_cast<unsigned long>(info.st_ino));
    std::istringstream locks(ReadProcFile("/proc/locks", kMaxProcText));
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, where;
        long pid = 0;
        if (!(fields >> number >> kind) || kind == "->" || kind != "FLOCK")
            continue;
        if (fields >> mode >> access >> pid >> where && where == file && pid > 0)
            holders.push_back({pid, CommandLineOf(pid)});
    }
    return holders;
}

} // namespace pandel::platform::native
