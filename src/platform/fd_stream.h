// Input stream buffer over a file descriptor, reading in large blocks (standard input, pipes).
#pragma once

#include <cstddef>
#include <memory>
#include <ostream>
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

// Output stream buffer over a file descriptor that it owns. Without a buffer of its own
// every write reaches the descriptor at once, so that a failure (a full disk) shows at the
// write that met it, with errno telling why.
class FdOutStreamBuf : public std::streambuf {
  public:
    explicit FdOutStreamBuf(int fd = -1, size_t bufferSize = 0);
    ~FdOutStreamBuf() override;
    FdOutStreamBuf(const FdOutStreamBuf&) = delete;
    FdOutStreamBuf& operator=(const FdOutStreamBuf&) = delete;

    bool isOpen() const { return fd >= 0; }
    int descriptor() const { return fd; }
    // Writes what is buffered and closes the descriptor; false when either failed.
    bool close();

  protected:
    std::streamsize xsputn(const char_type* s, std::streamsize count) override;
    int_type overflow(int_type c) override;
    int sync() override;

  private:
    // Writes size bytes at data; false (errno set) when they did not all go.
    bool put(const char* data, size_t size);

    int fd;
    std::unique_ptr<char[]> storage;
    size_t size;
};

// An output file stream over a descriptor that it owns, buffered.
class FdOutStream : public std::ostream {
  public:
    // Not open.
    FdOutStream();
    FdOutStream(int fd, size_t bufferSize);
    FdOutStream(const FdOutStream&) = delete;
    FdOutStream& operator=(const FdOutStream&) = delete;

    bool is_open() const { return buffer.isOpen(); }
    int descriptor() const { return buffer.descriptor(); }
    // Flushes and closes; the stream fails when that did.
    void close();
    // Flushes, and has the system start writing the file out to its device without
    // waiting for it.
    void startWriteback();

  private:
    FdOutStreamBuf buffer;
};
