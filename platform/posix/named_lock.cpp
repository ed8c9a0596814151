// Named locks on POSIX: flock on one file per name in the root's locks directory.
#include "platform/named_lock.h"

#include "platform/fixed_places.h"
#include "platform/plain_names.h"
#include "platform/wide_text.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::native {
namespace {

constexpr const char* kLocksDirectory = "locks";
// Every account on the machine shares the locks, as the named events they stand for are open to
// all; the sticky bit keeps one account from removing another's lock file from under it.
constexpr mode_t kLocksDirectoryMode = 01777;
constexpr mode_t kLockFileMode = 0666;

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

// O_NONBLOCK: anyone may plant a FIFO or a device at the lock's place, and opening one would
// block; only a regular file is a lock, so the type is checked once the open came back.
int OpenLockFile(const std::string& path) {
    return open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                kLockFileMode);
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
    // flock needs no write access, so a lock file of another account opens read-only. The
    // directory is made only when it is missing, not looked at on every use.
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
    if ((info.st_mode & 0777) != kLockFileMode && info.st_uid == geteuid())
        fchmod(fd, kLockFileMode); // the umask must not narrow who may share it
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

} // namespace platform::native
