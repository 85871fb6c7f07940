// The files part of a package inflated ahead of its reader, on a thread of its own: reading
// the package, its digest and inflating take their turn with the file system work of the
// files already inflated, and on a machine with a second core run beside it.
#pragma once

#include <pthread.h>

#include <condition_variable>
#include <cstdint>
#include <istream>
#include <memory>
#include <mutex>
#include <streambuf>

#include "pkgfile/inflate_stream.h"

class PackageFile;

// Decompressed bytes pass from the inflating thread to the reader in a ring of a few
// blocks; the reader reads one block in place while the thread fills the others. The
// package file belongs to the thread until this buffer is destroyed, which stops the
// thread; the reader learns how far the thread has read through sourcePosition().
// Without a thread (one that cannot be started) the reader inflates each block itself.
class InflateAheadBuf : public std::streambuf {
  public:
    static constexpr size_t BlockSize = 64 * 1024;
    static constexpr size_t Blocks = 4;
    // Each side, once it has had to wait, goes on only when this many blocks are free
    // (the thread) or ready (the reader): on one core the two take fewer, longer turns.
    static constexpr size_t FreeToResume = 2;
    static constexpr size_t ReadyToResume = 2;

    explicit InflateAheadBuf(PackageFile& file);
    ~InflateAheadBuf() override;
    InflateAheadBuf(const InflateAheadBuf&) = delete;
    InflateAheadBuf& operator=(const InflateAheadBuf&) = delete;

    // Offset in the package file up to which the source had been read when the block now
    // being read was inflated.
    uint64_t sourcePosition() const { return readingSourceAt; }
    // As InflateStreamBuf::complete, once the reader has met the end of the data.
    bool complete() const;
    // The next count bytes where they lie, when the block being read holds them all; they
    // count as read. Null otherwise, and nothing is read.
    const char* readInPlace(size_t count);

  protected:
    int_type underflow() override;
    // Forward only, by reading through; the new position, or -1.
    pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                     std::ios_base::openmode which) override;
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

  private:
    static void* inflateUntilDone(void* self);
    // Inflates the next block into the first free one of the ring; false at the end.
    bool inflateBlock();
    bool readyOrFinished() const { return filled >= ReadyToResume || finished; }
    char* block(size_t index) { return storage.get() + index * BlockSize; }
    // Hands the block being read back to the ring.
    void releaseBlock();

    PackageFile& file;
    InflateStreamBuf inflater;
    // Not cleared: a small package touches only the pages of its first block.
    std::unique_ptr<char[]> storage;

    mutable std::mutex mutex;
    std::condition_variable filledOne;
    std::condition_variable freedOne;
    // Guarded by mutex: blocks from first on hold data (the one being read among them).
    size_t first = 0;
    size_t filled = 0;
    size_t lengths[Blocks] = {};
    uint64_t sourceAt[Blocks] = {};
    bool finished = false;
    bool endedWhole = false;
    bool stopping = false;

    // The reader's own.
    bool threaded = false;
    pthread_t thread{};
    bool reading = false;
    uint64_t readingSourceAt = 0;
    uint64_t deliveredBefore = 0;
};

// An input stream over InflateAheadBuf.
class InflateAhead : public std::istream {
  public:
    explicit InflateAhead(PackageFile& file);
    ~InflateAhead() override;

    uint64_t sourcePosition() const { return buffer.sourcePosition(); }
    bool complete() const { return buffer.complete(); }
    const char* readInPlace(size_t count) { return buffer.readInPlace(count); }

  private:
    InflateAheadBuf buffer;
};
