// Decompressing input stream: the files part of a package read through zlib.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <istream>
#include <streambuf>

#include "platform/block_stream_buf.h"

// Streams that move forward only: how far a seek from position now goes, or -1 when it
// goes back or counts from the end.
std::streamoff forwardDistance(std::streamoff offset, std::ios_base::seekdir direction,
                               uint64_t now);

// Pulls zlib-format bytes from a source stream buffer and hands out the decompressed
// bytes in blocks of at most 4096 (larger reads are decompressed straight into place). Corrupt
// data, or a source that ends before the compressed stream does, shows as the end of the data.
// Seeking moves forward only, by reading through. Allocates nothing after construction (zlib keeps
// its own state).
class InflateStreamBuf : public BlockStreamBuf {
  public:
    static constexpr size_t BlockSize = 4096;
    // Compressed bytes are taken from the source in blocks of this size: fewer, longer
    // inflate calls spend less time at the edges of their buffers.
    static constexpr size_t InputSize = 16384;

    // source is not owned.
    explicit InflateStreamBuf(std::streambuf* source);
    ~InflateStreamBuf() override;
    InflateStreamBuf(const InflateStreamBuf&) = delete;
    InflateStreamBuf& operator=(const InflateStreamBuf&) = delete;

    // Decompressed bytes produced since the start (delivered or still buffered).
    uint32_t produced() const { return uint32_t(producedTotal); }
    // The compressed stream has ended as it should, with its four check bytes. False while
    // it goes on, and for good when the data was corrupt or the source ran out first:
    // both read as an early end, which only this tells from the true one.
    bool complete() const { return streamEnded; }

  protected:
    // Direction end fails; otherwise moves forward to the target by reading through.
    // The result is the new position (bytes delivered so far), or -1.
    pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                     std::ios_base::openmode which) override;
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override;
    // Decompresses the next bytes into bytes.
    size_t fill(char* bytes, size_t count) override;

  private:
    // A read straight into the caller's buffer inflates at most this much at a time.
    static constexpr size_t MaxFill = 1 << 20;

    // Bytes handed to the reader so far.
    uint64_t delivered() const;
    // Input is waiting for inflate; false when the source has ended.
    bool input();
    bool takeInput(uint8_t* bytes, size_t count);
    bool headerIsValid();

    std::streambuf* source;
    uint64_t producedTotal = 0;
    bool headerRead = false;
    bool streamEnded = false;
    bool broken = false;
    char area[1 + BlockSize];
    unsigned char inBuf[InputSize];
    z_stream zs;
};

// An input stream that decompresses what it reads from source (zlib format). The source
// stream is not owned; it must outlive this stream.
class InflateStream : public std::istream {
  public:
    explicit InflateStream(std::istream& source);
    ~InflateStream() override;
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;

    uint32_t produced() const { return buffer.produced(); }
    bool complete() const { return buffer.complete(); }

  private:
    InflateStreamBuf buffer;
};
