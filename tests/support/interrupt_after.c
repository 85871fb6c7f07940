/* Test support, preloaded into the installer (LD_PRELOAD): counts the calls that change
 * the file system and ends the process at the N-th one, as a crash or a power cut would,
 * N taken from INTERRUPT_AFTER_CALLS. With FAIL_RENAMES_TO set, a rename onto a path that
 * ends with that text fails with EIO instead, as a failing flash would make it. At the N-th call
 * nothing is done, except that a write of more than one byte writes its first half, so that a file
 * is left cut short. Without N (or with 0) the process runs to its end and then reports on standard
 * error "mutating calls: COUNT". Only calls through the C library's exported functions are seen,
 * which is how the installer and the C++ library reach the file system. */
/* Each of open and open64 (and the others) is wrapped on its own, so the headers must
 * not turn one name into the other. */
#undef _FILE_OFFSET_BITS
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

/* The exit status of an interrupted process, for the test to tell it from a normal end. */
#define INTERRUPTED_STATUS 99

static long limit;
static long count;

static void __attribute__((constructor)) readLimit(void) {
    const char* value = getenv("INTERRUPT_AFTER_CALLS");
    limit = value ? atol(value) : 0;
}

static void __attribute__((destructor)) reportCount(void) {
    if (limit > 0)
        return;
    char line[64];
    int n = snprintf(line, sizeof line, "mutating calls: %ld\n", count);
    /* Straight to the kernel: this write is not one of the counted calls. */
    syscall(SYS_write, 2, line, (size_t)n);
}

/* True when this call is the one at which the process ends. */
static int reached(void) {
    ++count;
    return limit > 0 && count == limit;
}

static void interrupt(void) {
    _exit(INTERRUPTED_STATUS);
}

static void* real(const char* name) {
    void* function = dlsym(RTLD_NEXT, name);
    if (function == NULL)
        interrupt();
    return function;
}

static int opensForWriting(int flags) {
    return (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND)) != 0;
}

static int modeWrites(const char* mode) {
    return strpbrk(mode, "wa+") != NULL;
}

#define STEP()           \
    do {                 \
        if (reached())   \
            interrupt(); \
    } while (0)

static int failsRenameTo(const char* to) {
    const char* ending = getenv("FAIL_RENAMES_TO");
    size_t length = ending ? strlen(ending) : 0, size = strlen(to);
    return length > 0 && size >= length && strcmp(to + size - length, ending) == 0;
}

int rename(const char* from, const char* to) {
    STEP();
    if (failsRenameTo(to)) {
        errno = EIO;
        return -1;
    }
    return ((int (*)(const char*, const char*))real("rename"))(from, to);
}

int renameat(int fromDir, const char* from, int toDir, const char* to) {
    STEP();
    return ((int (*)(int, const char*, int, const char*))real("renameat"))(fromDir, from, toDir,
                                                                           to);
}

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
    STEP();
    return ((int (*)(int, const char*, int, const char*, unsigned))real("renameat2"))(
        fromDir, from, toDir, to, flags);
}

int unlink(const char* path) {
    STEP();
    return ((int (*)(const char*))real("unlink"))(path);
}

int unlinkat(int dir, const char* path, int flags) {
    STEP();
    return ((int (*)(int, const char*, int))real("unlinkat"))(dir, path, flags);
}

int rmdir(const char* path) {
    STEP();
    return ((int (*)(const char*))real("rmdir"))(path);
}

int symlink(const char* target, const char* path) {
    STEP();
    return ((int (*)(const char*, const char*))real("symlink"))(target, path);
}

int symlinkat(const char* target, int dir, const char* path) {
    STEP();
    return ((int (*)(const char*, int, const char*))real("symlinkat"))(target, dir, path);
}

int link(const char* from, const char* to) {
    STEP();
    return ((int (*)(const char*, const char*))real("link"))(from, to);
}

int mkdir(const char* path, mode_t mode) {
    STEP();
    return ((int (*)(const char*, mode_t))real("mkdir"))(path, mode);
}

int mkdirat(int dir, const char* path, mode_t mode) {
    STEP();
    return ((int (*)(int, const char*, mode_t))real("mkdirat"))(dir, path, mode);
}

int chmod(const char* path, mode_t mode) {
    STEP();
    return ((int (*)(const char*, mode_t))real("chmod"))(path, mode);
}

int fchmod(int fd, mode_t mode) {
    STEP();
    return ((int (*)(int, mode_t))real("fchmod"))(fd, mode);
}

int ftruncate(int fd, off_t length) {
    STEP();
    return ((int (*)(int, off_t))real("ftruncate"))(fd, length);
}

static mode_t modeArgument(int flags, va_list args) {
    return (flags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0;
}

#define OPEN_WRAPPER(name)                                                          \
    int name(const char* path, int flags, ...) {                                    \
        va_list args;                                                               \
        va_start(args, flags);                                                      \
        mode_t mode = modeArgument(flags, args);                                    \
        va_end(args);                                                               \
        if (opensForWriting(flags))                                                 \
            STEP();                                                                 \
        return ((int (*)(const char*, int, mode_t))real(#name))(path, flags, mode); \
    }

#define OPENAT_WRAPPER(name)                                                                  \
    int name(int dir, const char* path, int flags, ...) {                                     \
        va_list args;                                                                         \
        va_start(args, flags);                                                                \
        mode_t mode = modeArgument(flags, args);                                              \
        va_end(args);                                                                         \
        if (opensForWriting(flags))                                                           \
            STEP();                                                                           \
        return ((int (*)(int, const char*, int, mode_t))real(#name))(dir, path, flags, mode); \
    }

OPEN_WRAPPER(open)
OPEN_WRAPPER(open64)
OPENAT_WRAPPER(openat)
OPENAT_WRAPPER(openat64)

int creat(const char* path, mode_t mode) {
    STEP();
    return ((int (*)(const char*, mode_t))real("creat"))(path, mode);
}

FILE* fopen(const char* path, const char* mode) {
    if (modeWrites(mode))
        STEP();
    return ((FILE * (*)(const char*, const char*)) real("fopen"))(path, mode);
}

FILE* fopen64(const char* path, const char* mode) {
    if (modeWrites(mode))
        STEP();
    return ((FILE * (*)(const char*, const char*)) real("fopen64"))(path, mode);
}

int mkstemp(char* pattern) {
    STEP();
    return ((int (*)(char*))real("mkstemp"))(pattern);
}

int mkstemp64(char* pattern) {
    STEP();
    return ((int (*)(char*))real("mkstemp64"))(pattern);
}

int mkostemp(char* pattern, int flags) {
    STEP();
    return ((int (*)(char*, int))real("mkostemp"))(pattern, flags);
}

int mkostemp64(char* pattern, int flags) {
    STEP();
    return ((int (*)(char*, int))real("mkostemp64"))(pattern, flags);
}

ssize_t write(int fd, const void* data, size_t size) {
    ssize_t (*realWrite)(int, const void*, size_t) = real("write");
    if (reached()) {
        if (size > 1)
            realWrite(fd, data, size / 2);
        interrupt();
    }
    return realWrite(fd, data, size);
}

ssize_t pwrite(int fd, const void* data, size_t size, off_t offset) {
    STEP();
    return ((ssize_t(*)(int, const void*, size_t, off_t))real("pwrite"))(fd, data, size, offset);
}

ssize_t writev(int fd, const struct iovec* parts, int count) {
    ssize_t (*realWritev)(int, const struct iovec*, int) = real("writev");
    if (reached()) {
        if (count > 0 && parts[0].iov_len > 1)
            ((ssize_t(*)(int, const void*, size_t))real("write"))(fd, parts[0].iov_base,
                                                                  parts[0].iov_len / 2);
        interrupt();
    }
    return realWritev(fd, parts, count);
}
