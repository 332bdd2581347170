// A preloaded library that makes one chosen file-system call of a program fail, as a failing disk
// or a full file system would, so that tests can check what the program does about every failure
// on its write path.
//
//   QUILL_FAULT=KIND:N[:ERRNO]  the Nth call (from 1) of KIND fails with ERRNO (default EIO);
//                               the call is not made (close and fclose do close, then fail)
//   QUILL_FAULT_COUNT=FILE      at exit, appends "KIND COUNT" for every kind that was called,
//                               and "injected KIND N" when the failure was injected
//   QUILL_FAULT_TRACE=1         an open that is made to fail names its file on standard error
//
// Kinds: fsync-dir, fsync-file (fsync, fdatasync), open-dir (open of a folder), open-write (an
// open that may write or create), open-read (any other open), write (write, pwrite, fwrite,
// fflush), read (read, pread), rename, link, unlink, mkdir (mkdir, mkdirat), close (close,
// fclose), meta (fchmod, chmod, futimens, utimensat).
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

enum Kind {
    FsyncDir,
    FsyncFile,
    OpenDir,
    OpenWrite,
    OpenRead,
    Write,
    Read,
    Rename,
    Link,
    Unlink,
    Mkdir,
    Close,
    Meta,
    Kinds
};
static const char* const kNames[Kinds] = {
    "fsync-dir", "fsync-file", "open-dir", "open-write", "open-read", "write", "read",
    "rename",    "link",       "unlink",   "mkdir",      "close",     "meta"};

static int g_kind = -1;
static long g_nth = 0;
static int g_errno = EIO;
static long g_counts[Kinds];
static int g_injected = 0;

__attribute__((constructor)) static void readSetting(void) {
    const char* text = getenv("QUILL_FAULT");
    if (!text) return;
    for (int k = 0; k < Kinds; ++k) {
        const size_t n = strlen(kNames[k]);
        if (strncmp(text, kNames[k], n) == 0 && text[n] == ':') {
            char* end = NULL;
            g_kind = k;
            g_nth = strtol(text + n + 1, &end, 10);
            if (end && *end == ':') g_errno = atoi(end + 1);
        }
    }
}

__attribute__((destructor)) static void writeCounts(void) {
    const char* file = getenv("QUILL_FAULT_COUNT");
    if (!file) return;
    FILE* out = fopen(file, "a");
    if (!out) return;
    for (int k = 0; k < Kinds; ++k) {
        const long count = __atomic_load_n(&g_counts[k], __ATOMIC_SEQ_CST);
        if (count) fprintf(out, "%s %ld\n", kNames[k], count);
    }
    if (g_injected) fprintf(out, "injected %s %ld\n", kNames[g_kind], g_nth);
    fclose(out);
}

/// Counts a call of `kind`; true when this one is to fail.
static int failsNow(int kind) {
    const long n = __atomic_add_fetch(&g_counts[kind], 1, __ATOMIC_SEQ_CST);
    if (kind != g_kind || n != g_nth) return 0;
    g_injected = 1;
    return 1;
}

#define REAL(name, type) ((type)dlsym(RTLD_NEXT, name))

static int isDirectory(int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
}

static int syncKind(int fd) {
    return isDirectory(fd) ? FsyncDir : FsyncFile;
}

int fsync(int fd) {
    if (failsNow(syncKind(fd))) return errno = g_errno, -1;
    return REAL("fsync", int (*)(int))(fd);
}

int fdatasync(int fd) {
    if (failsNow(syncKind(fd))) return errno = g_errno, -1;
    return REAL("fdatasync", int (*)(int))(fd);
}

static int openKind(int flags) {
    if (flags & O_DIRECTORY) return OpenDir;
    if ((flags & O_ACCMODE) != O_RDONLY || (flags & (O_CREAT | O_TRUNC))) return OpenWrite;
    return OpenRead;
}

static int openWith(const char* name, int dirfd, const char* path, int flags, mode_t mode) {
    const int kind = openKind(flags);
    if (kind >= 0 && failsNow(kind)) {
        // QUILL_FAULT_TRACE names the file whose open failed, for finding what a fault hit.
        if (getenv("QUILL_FAULT_TRACE")) fprintf(stderr, "fault_inject: %s %s\n", name, path);
        return errno = g_errno, -1;
    }
    if (dirfd == -1) return REAL(name, int (*)(const char*, int, mode_t))(path, flags, mode);
    return REAL(name, int (*)(int, const char*, int, mode_t))(dirfd, path, flags, mode);
}

#define MODE_ARG(flags)                                                                            \
    mode_t mode = 0;                                                                               \
    if ((flags) & (O_CREAT | __O_TMPFILE)) {                                                       \
        va_list args;                                                                              \
        va_start(args, flags);                                                                     \
        mode = va_arg(args, mode_t);                                                               \
        va_end(args);                                                                              \
    }

int open(const char* path, int flags, ...) {
    MODE_ARG(flags)
    return openWith("open", -1, path, flags, mode);
}
int open64(const char* path, int flags, ...) {
    MODE_ARG(flags)
    return openWith("open64", -1, path, flags, mode);
}
int openat(int dirfd, const char* path, int flags, ...) {
    MODE_ARG(flags)
    return openWith("openat", dirfd, path, flags, mode);
}
int openat64(int dirfd, const char* path, int flags, ...) {
    MODE_ARG(flags)
    return openWith("openat64", dirfd, path, flags, mode);
}

ssize_t pwrite(int fd, const void* buffer, size_t count, off_t offset) {
    if (failsNow(Write)) return errno = g_errno, -1;
    return REAL("pwrite", ssize_t(*)(int, const void*, size_t, off_t))(fd, buffer, count, offset);
}

ssize_t pwrite64(int fd, const void* buffer, size_t count, off64_t offset) {
    if (failsNow(Write)) return errno = g_errno, -1;
    return REAL("pwrite64", ssize_t(*)(int, const void*, size_t, off64_t))(fd, buffer, count,
                                                                            offset);
}

ssize_t read(int fd, void* buffer, size_t count) {
    if (failsNow(Read)) return errno = g_errno, -1;
    return REAL("read", ssize_t(*)(int, void*, size_t))(fd, buffer, count);
}

ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
    if (failsNow(Read)) return errno = g_errno, -1;
    return REAL("pread", ssize_t(*)(int, void*, size_t, off_t))(fd, buffer, count, offset);
}

ssize_t pread64(int fd, void* buffer, size_t count, off64_t offset) {
    if (failsNow(Read)) return errno = g_errno, -1;
    return REAL("pread64", ssize_t(*)(int, void*, size_t, off64_t))(fd, buffer, count, offset);
}

int mkdir(const char* path, mode_t mode) {
    if (failsNow(Mkdir)) return errno = g_errno, -1;
    return REAL("mkdir", int (*)(const char*, mode_t))(path, mode);
}

int mkdirat(int dirfd, const char* path, mode_t mode) {
    if (failsNow(Mkdir)) return errno = g_errno, -1;
    return REAL("mkdirat", int (*)(int, const char*, mode_t))(dirfd, path, mode);
}

ssize_t write(int fd, const void* buffer, size_t count) {
    if (failsNow(Write)) return errno = g_errno, -1;
    return REAL("write", ssize_t(*)(int, const void*, size_t))(fd, buffer, count);
}

size_t fwrite(const void* buffer, size_t size, size_t count, FILE* stream) {
    if (failsNow(Write)) return errno = g_errno, 0;
    return REAL("fwrite", size_t(*)(const void*, size_t, size_t, FILE*))(buffer, size, count,
                                                                         stream);
}

int fflush(FILE* stream) {
    if (stream && failsNow(Write)) return errno = g_errno, EOF;
    return REAL("fflush", int (*)(FILE*))(stream);
}

int rename(const char* from, const char* to) {
    if (failsNow(Rename)) return errno = g_errno, -1;
    return REAL("rename", int (*)(const char*, const char*))(from, to);
}

int renameat(int fromDir, const char* from, int toDir, const char* to) {
    if (failsNow(Rename)) return errno = g_errno, -1;
    return REAL("renameat", int (*)(int, const char*, int, const char*))(fromDir, from, toDir, to);
}

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
    if (failsNow(Rename)) return errno = g_errno, -1;
    return REAL("renameat2", int (*)(int, const char*, int, const char*, unsigned))(
        fromDir, from, toDir, to, flags);
}

int link(const char* from, const char* to) {
    if (failsNow(Link)) return errno = g_errno, -1;
    return REAL("link", int (*)(const char*, const char*))(from, to);
}

int linkat(int fromDir, const char* from, int toDir, const char* to, int flags) {
    if (failsNow(Link)) return errno = g_errno, -1;
    return REAL("linkat", int (*)(int, const char*, int, const char*, int))(fromDir, from, toDir,
                                                                            to, flags);
}

int unlink(const char* path) {
    if (failsNow(Unlink)) return errno = g_errno, -1;
    return REAL("unlink", int (*)(const char*))(path);
}

int unlinkat(int dirfd, const char* path, int flags) {
    if (failsNow(Unlink)) return errno = g_errno, -1;
    return REAL("unlinkat", int (*)(int, const char*, int))(dirfd, path, flags);
}

// A failed close has still released the descriptor, as on Linux.
int close(int fd) {
    const int result = REAL("close", int (*)(int))(fd);
    if (failsNow(Close)) return errno = g_errno, -1;
    return result;
}

int fclose(FILE* stream) {
    const int result = REAL("fclose", int (*)(FILE*))(stream);
    if (failsNow(Close)) return errno = g_errno, EOF;
    return result;
}

int fchmod(int fd, mode_t mode) {
    if (failsNow(Meta)) return errno = g_errno, -1;
    return REAL("fchmod", int (*)(int, mode_t))(fd, mode);
}

int chmod(const char* path, mode_t mode) {
    if (failsNow(Meta)) return errno = g_errno, -1;
    return REAL("chmod", int (*)(const char*, mode_t))(path, mode);
}

int fchmodat(int dirfd, const char* path, mode_t mode, int flags) {
    if (failsNow(Meta)) return errno = g_errno, -1;
    return REAL("fchmodat", int (*)(int, const char*, mode_t, int))(dirfd, path, mode, flags);
}

int futimens(int fd, const struct timespec times[2]) {
    if (failsNow(Meta)) return errno = g_errno, -1;
    return REAL("futimens", int (*)(int, const struct timespec*))(fd, times);
}

int utimensat(int dirfd, const char* path, const struct timespec times[2], int flags) {
    if (failsNow(Meta)) return errno = g_errno, -1;
    return REAL("utimensat", int (*)(int, const char*, const struct timespec*, int))(dirfd, path,
                                                                                     times, flags);
}
