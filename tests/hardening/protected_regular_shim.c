// Stands in, for one process (LD_PRELOAD), for the kernel's fs.protected_regular where a test
// cannot set it: an O_CREAT open of an existing file in a sticky directory that others may write
// fails with EACCES when the file belongs neither to the caller nor to the directory's owner.
// PANDEL_PROTECTED_REGULAR holds the level: 1 world-writable directories, 2 group-writable too.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <libgen.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static int Refused(int dirfd, const char* path, int flags) {
    const char* setting = getenv("PANDEL_PROTECTED_REGULAR");
    const int level = setting != NULL ? atoi(setting) : 0;
    if (level <= 0 || (flags & O_CREAT) == 0 || (flags & O_EXCL) != 0)
        return 0;
    struct stat file;
    if (fstatat(dirfd, path, &file, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(file.st_mode))
        return 0;
    char copy[4096];
    strncpy(copy, path, sizeof copy - 1);
    copy[sizeof copy - 1] = '\0';
    struct stat dir;
    if (fstatat(dirfd, dirname(copy), &dir, 0) != 0 || (dir.st_mode & S_ISVTX) == 0)
        return 0;
    const mode_t writers = level >= 2 ? (S_IWOTH | S_IWGRP) : S_IWOTH;
    if ((dir.st_mode & writers) == 0)
        return 0;
    return file.st_uid != geteuid() && file.st_uid != dir.st_uid;
}

static mode_t ModeOf(int flags, va_list args) {
    return (flags & (O_CREAT | O_TMPFILE)) != 0 ? va_arg(args, mode_t) : 0;
}

typedef int (*OpenAt)(int, const char*, int, ...);

static int Forward(const char* name, int dirfd, const char* path, int flags, mode_t mode) {
    if (Refused(dirfd, path, flags)) {
        errno = EACCES;
        return -1;
    }
    if (dirfd == AT_FDCWD && strcmp(name, "openat") != 0) {
        int (*real)(const char*, int, ...) = (int (*)(const char*, int, ...))dlsym(RTLD_NEXT, name);
        return real(path, flags, mode);
    }
    OpenAt real = (OpenAt)dlsym(RTLD_NEXT, name);
    return real(dirfd, path, flags, mode);
}

int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeOf(flags, args);
    va_end(args);
    return Forward("open", AT_FDCWD, path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeOf(flags, args);
    va_end(args);
    return Forward("open64", AT_FDCWD, path, flags, mode);
}

int openat(int dirfd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeOf(flags, args);
    va_end(args);
    return Forward("openat", dirfd, path, flags, mode);
}
