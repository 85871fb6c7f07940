// Input stream buffer over a file descriptor, reading in large blocks (standard input, pipes).
#pragma once

#include <cstddef>
#include <memory>
#include <streambuf>

#include "platform/block_stream_buf.h"

class FdStreamBuf : public BlockStreamBuf {
  public:
    // The descriptor is closed with the buffer only when ownsFd is true.
    explicit FdStreamBuf(int fd, bool ownsFd = false);
    ~FdStreamBuf() override;
    FdStreamBuf(const FdStreamBuf&) = delete;
    FdStreamBuf& operator=(const FdStreamBuf&) = delete;

    // True once read(2) has failed with anything but EINTR; reads then report the end.
    bool readFailed() const { return failed; }

    static constexpr size_t BlockSize = 64 * 1024;

  protected:
    // One read(2), repeated on EINTR: bytes read, 0 at the end or on failure.
    size_t fill(char* bytes, size_t count) override;
    // Bytes readable without blocking (FIONREAD), 0 when unknown.
    std::streamsize showmanyc() override;
    // Fail (-1) on a descriptor that cannot seek, such as a pipe.
    pos_type seekoff(off_type offset, std::ios_base::seekdir dir,
                     std::ios_base::openmode which) override;
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

  private:
    FdStreamBuf(int fd, bool ownsFd, std::unique_ptr<char[]> storage);

    int fd;
    bool ownsFd;
    bool failed = false;
    std::unique_ptr<char[]> storage;
};

// Output stream buffer over a file descriptor that it owns, without a buffer of its own:
// every write reaches the descriptor at once, so that a failure (a full disk) shows at
// the write that met it, with errno telling why.
class FdOutStreamBuf : public std::streambuf {
  public:
    explicit FdOutStreamBuf(int fd) : fd(fd) {}
    ~FdOutStreamBuf() override;
    FdOutStreamBuf(const FdOutStreamBuf&) = delete;
    FdOutStreamBuf& operator=(const FdOutStreamBuf&) = delete;

    // Closes the descriptor; false when that failed.
    bool close();

  protected:
    std::streamsize xsputn(const char_type* s, std::streamsize count) override;
    int_type overflow(int_type c) override;

  private:
    int fd;
};
