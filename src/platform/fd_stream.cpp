// Input stream buffer over a file descriptor.
#include "platform/fd_stream.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

FdStreamBuf::FdStreamBuf(int fd, bool ownsFd)
    : FdStreamBuf(fd, ownsFd, std::make_unique<char[]>(1 + BlockSize)) {}

FdStreamBuf::FdStreamBuf(int fd, bool ownsFd, std::unique_ptr<char[]> storage)
    : BlockStreamBuf(storage.get(), BlockSize),
      fd(fd),
      ownsFd(ownsFd),
      storage(std::move(storage)) {}

FdStreamBuf::~FdStreamBuf() {
    if (ownsFd && fd >= 0)
        close(fd);
}

size_t FdStreamBuf::fill(char* bytes, size_t count) {
    if (failed || count == 0)
        return 0;
    for (;;) {
        ssize_t n = read(fd, bytes, count);
        if (n >= 0)
            return size_t(n);
        if (errno != EINTR) {
            failed = true;
            return 0;
        }
    }
}

std::streamsize FdStreamBuf::showmanyc() {
    int available = 0;
    if (ioctl(fd, FIONREAD, &available) != 0 || available < 0)
        return 0;
    return available;
}

FdStreamBuf::pos_type FdStreamBuf::seekoff(off_type offset, std::ios_base::seekdir dir,
                                           std::ios_base::openmode which) {
    if (!(which & std::ios_base::in))
        return pos_type(off_type(-1));
    off_type buffered = egptr() - gptr();
    if (dir == std::ios_base::cur) {
        // The descriptor stands past the bytes still buffered.
        off_type here = lseek(fd, 0, SEEK_CUR);
        if (here < 0)
            return pos_type(off_type(-1));
        if (offset == 0)
            return pos_type(here - buffered);
        off_type target = lseek(fd, offset - buffered, SEEK_CUR);
        if (target < 0)
            return pos_type(off_type(-1));
        dropGetArea();
        return pos_type(target);
    }
    off_type target = lseek(fd, offset, dir == std::ios_base::beg ? SEEK_SET : SEEK_END);
    if (target < 0)
        return pos_type(off_type(-1));
    dropGetArea();
    return pos_type(target);
}

FdStreamBuf::pos_type FdStreamBuf::seekpos(pos_type position, std::ios_base::openmode which) {
    return seekoff(off_type(position), std::ios_base::beg, which);
}

FdOutStreamBuf::FdOutStreamBuf(int fd, size_t bufferSize)
    : fd(fd), storage(bufferSize ? new char[bufferSize] : nullptr), size(bufferSize) {
    if (storage)
        setp(storage.get(), storage.get() + size);
}

FdOutStreamBuf::~FdOutStreamBuf() {
    close();
}

bool FdOutStreamBuf::put(const char* data, size_t count) {
    while (fd >= 0 && count > 0) {
        ssize_t n = write(fd, data, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        data += n;
        count -= size_t(n);
    }
    return fd >= 0;
}

int FdOutStreamBuf::sync() {
    size_t pending = size_t(pptr() - pbase());
    if (pending == 0)
        return 0;
    bool ok = put(pbase(), pending);
    setp(storage.get(), storage.get() + size);
    return ok ? 0 : -1;
}

bool FdOutStreamBuf::close() {
    if (fd < 0)
        return true;
    bool ok = sync() == 0;
    int error = errno;
    ok = ::close(fd) == 0 && ok;
    if (!ok && error != 0)
        errno = error;
    fd = -1;
    return ok;
}

std::streamsize FdOutStreamBuf::xsputn(const char_type* s, std::streamsize count) {
    if (size_t(count) <= size_t(epptr() - pptr())) {
        std::memcpy(pptr(), s, size_t(count));
        pbump(int(count));
        return count;
    }
    if (sync() != 0)
        return 0;
    if (size_t(count) < size) {
        std::memcpy(pptr(), s, size_t(count));
        pbump(int(count));
        return count;
    }
    // A large block goes out at once; a short write leaves errno telling why.
    std::streamsize done = 0;
    while (fd >= 0 && done < count) {
        ssize_t n = write(fd, s + done, size_t(count - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

FdOutStreamBuf::int_type FdOutStreamBuf::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return sync() == 0 ? traits_type::not_eof(c) : traits_type::eof();
    char_type byte = traits_type::to_char_type(c);
    return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
}

FdOutStream::FdOutStream() : std::ostream(nullptr) {
    rdbuf(&buffer);
    setstate(badbit);
}

FdOutStream::FdOutStream(int fd, size_t bufferSize)
    : std::ostream(nullptr), buffer(fd, bufferSize) {
    rdbuf(&buffer);
}

void FdOutStream::close() {
    if (!buffer.close())
        setstate(failbit);
}

void FdOutStream::startWriteback() {
    if (!flush() || !is_open())
        return;
    sync_file_range(descriptor(), 0, 0, SYNC_FILE_RANGE_WRITE);
}
