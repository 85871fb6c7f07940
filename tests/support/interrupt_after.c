/* Test support, preloaded into the installer: ends the process with status 99 at the N-th
 * call into the C library that changes the file system (N from INTERRUPT_AFTER_CALLS), as a
 * power cut would; that call does nothing, but a write of more than one byte writes half.
 * With INTERRUPT_SIGNAL, the process is sent that signal instead, as a user or a supervisor
 * ending the run would, and the call goes on if the process does.
 * Without N the process reports "mutating calls: COUNT" on standard error at its end. A
 * rename onto a path ending in FAIL_RENAMES_TO fails with EIO, as a failing flash would.
 * open and open64 (and the others) are each wrapped: the headers must not merge the names. */
#undef _FILE_OFFSET_BITS
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#define INTERRUPTED_STATUS 99

static long limit, count;
static int signalToSend;

static void __attribute__((constructor)) readLimit(void) {
    const char* value = getenv("INTERRUPT_AFTER_CALLS");
    limit = value ? atol(value) : 0;
    value = getenv("INTERRUPT_SIGNAL");
    signalToSend = value ? atoi(value) : 0;
}

static void __attribute__((destructor)) reportCount(void) {
    char line[64];
    int n = snprintf(line, sizeof line, "mutating calls: %ld\n", count);
    if (limit <= 0) /* straight to the kernel: this write is not one of the counted calls */
        syscall(SYS_write, 2, line, (size_t)n);
}

static void* real(const char* name) {
    void* function = dlsym(RTLD_NEXT, name);
    if (function == NULL)
        _exit(INTERRUPTED_STATUS);
    return function;
}

/* Counts a call; at the limit-th ends the process, having written the first half of the
 * size bytes of data to fd when there are more than one. */
static void step(int fd, const void* data, size_t size) {
    /* The commit renames on several threads: exactly one of them makes the limit-th call. */
    if (__atomic_add_fetch(&count, 1, __ATOMIC_SEQ_CST) != limit || limit <= 0)
        return;
    if (signalToSend > 0) {
        /* To the process, not the thread: a thread that blocks it leaves it to another. */
        kill(getpid(), signalToSend);
        return;
    }
    if (size > 1)
        ((ssize_t(*)(int, const void*, size_t))real("write"))(fd, data, size / 2);
    _exit(INTERRUPTED_STATUS);
}

/* TYPE NAME PARAMS, counted when COUNTED holds, calls the real NAME with ARGS. */
#define WRAP(type, name, params, args, counted)   \
    type name params {                            \
        if (counted)                              \
            step(-1, NULL, 0);                    \
        return ((type(*) params)real(#name))args; \
    }

int rename(const char* from, const char* to) {
    const char* ending = getenv("FAIL_RENAMES_TO");
    size_t length = ending ? strlen(ending) : 0, size = strlen(to);
    step(-1, NULL, 0);
    if (length > 0 && size >= length && strcmp(to + size - length, ending) == 0) {
        errno = EIO;
        return -1;
    }
    return ((int (*)(const char*, const char*))real("rename"))(from, to);
}

WRAP(int, renameat, (int fd, const char* from, int toFd, const char* to), (fd, from, toFd, to), 1)
WRAP(int, renameat2, (int fd, const char* from, int toFd, const char* to, unsigned flags),
     (fd, from, toFd, to, flags), 1)
WRAP(int, unlink, (const char* path), (path), 1)
WRAP(int, unlinkat, (int dir, const char* path, int flags), (dir, path, flags), 1)
WRAP(int, rmdir, (const char* path), (path), 1)
WRAP(int, symlink, (const char* target, const char* path), (target, path), 1)
WRAP(int, symlinkat, (const char* target, int dir, const char* path), (target, dir, path), 1)
WRAP(int, link, (const char* from, const char* to), (from, to), 1)
WRAP(int, mkdir, (const char* path, mode_t mode), (path, mode), 1)
WRAP(int, mkdirat, (int dir, const char* path, mode_t mode), (dir, path, mode), 1)
WRAP(int, chmod, (const char* path, mode_t mode), (path, mode), 1)
WRAP(int, fchmod, (int fd, mode_t mode), (fd, mode), 1)
WRAP(int, ftruncate, (int fd, off_t length), (fd, length), 1)
WRAP(int, creat, (const char* path, mode_t mode), (path, mode), 1)
WRAP(int, mkstemp, (char* pattern), (pattern), 1)
WRAP(int, mkstemp64, (char* pattern), (pattern), 1)
WRAP(int, mkostemp, (char* pattern, int flags), (pattern, flags), 1)
WRAP(int, mkostemp64, (char* pattern, int flags), (pattern, flags), 1)
WRAP(ssize_t, pwrite, (int fd, const void* data, size_t size, off_t at), (fd, data, size, at), 1)
WRAP(FILE*, fopen, (const char* path, const char* mode), (path, mode), strpbrk(mode, "wa+"))
WRAP(FILE*, fopen64, (const char* path, const char* mode), (path, mode), strpbrk(mode, "wa+"))

/* The mode argument is there only when a file may be made. */
#define WRITING (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND)
#define OPEN(name, params, types, args)                                           \
    int name params {                                                             \
        va_list rest;                                                             \
        va_start(rest, flags);                                                    \
        mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(rest, mode_t) : 0; \
        va_end(rest);                                                             \
        if (flags & WRITING)                                                      \
            step(-1, NULL, 0);                                                    \
        return ((int(*) types)real(#name))args;                                   \
    }
OPEN(open, (const char* path, int flags, ...), (const char*, int, mode_t), (path, flags, mode))
OPEN(open64, (const char* path, int flags, ...), (const char*, int, mode_t), (path, flags, mode))
OPEN(openat, (int dir, const char* path, int flags, ...), (int, const char*, int, mode_t),
     (dir, path, flags, mode))
OPEN(openat64, (int dir, const char* path, int flags, ...), (int, const char*, int, mode_t),
     (dir, path, flags, mode))

ssize_t write(int fd, const void* data, size_t size) {
    step(fd, data, size);
    return ((ssize_t(*)(int, const void*, size_t))real("write"))(fd, data, size);
}

ssize_t writev(int fd, const struct iovec* parts, int n) {
    step(fd, n > 0 ? parts[0].iov_base : NULL, n > 0 ? parts[0].iov_len : 0);
    return ((ssize_t(*)(int, const struct iovec*, int))real("writev"))(fd, parts, n);
}
