// Decompressing input stream over zlib.
#include "pkgfile/inflate_stream.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr size_t SkipStep = 1024;
}

InflateStreamBuf::InflateStreamBuf(std::streambuf* source)
    : BlockStreamBuf(area, BlockSize), source(source) {
    std::memset(&zs, 0, sizeof zs);
    // A failed initialisation makes every inflate call fail, which reads as the end.
    inflateInit(&zs);
}

InflateStreamBuf::~InflateStreamBuf() {
    inflateEnd(&zs);
}

uint64_t InflateStreamBuf::delivered() const {
    return producedTotal - uint64_t(egptr() - gptr());
}

size_t InflateStreamBuf::fill(char* bytes, size_t count) {
    uInt room = uInt(std::min<size_t>(count, MaxFill));
    // Input may be consumed without output (a zlib header, a stored block's length);
    // such a round must not end the data, so go on until bytes arrive.
    for (;;) {
        if (zs.avail_in == 0) {
            std::streamsize got = source->sgetn(reinterpret_cast<char*>(inBuf), sizeof inBuf);
            if (got <= 0)
                return 0;
            zs.next_in = inBuf;
            zs.avail_in = uInt(got);
        }
        zs.next_out = reinterpret_cast<Bytef*>(bytes);
        zs.avail_out = room;
        int result = inflate(&zs, Z_PARTIAL_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END)
            return 0;
        streamEnded = streamEnded || result == Z_STREAM_END;
        size_t made = room - zs.avail_out;
        producedTotal += made;
        if (made != 0)
            return made;
        if (result == Z_STREAM_END)
            return 0;
    }
}

InflateStreamBuf::pos_type InflateStreamBuf::seekoff(off_type offset,
                                                     std::ios_base::seekdir direction,
                                                     std::ios_base::openmode) {
    uint64_t now = delivered();
    off_type skip;
    if (direction == std::ios_base::cur)
        skip = offset;
    else if (direction == std::ios_base::beg)
        skip = offset - off_type(now);
    else
        return pos_type(off_type(-1));
    if (skip < 0)
        return pos_type(off_type(-1));
    char scratch[SkipStep];
    while (skip > 0) {
        std::streamsize step = skip < off_type(SkipStep) ? std::streamsize(skip) : SkipStep;
        if (sgetn(scratch, step) != step)
            return pos_type(off_type(-1));
        skip -= step;
    }
    return pos_type(off_type(delivered()));
}

InflateStreamBuf::pos_type InflateStreamBuf::seekpos(pos_type position,
                                                     std::ios_base::openmode which) {
    return seekoff(off_type(position), std::ios_base::beg, which);
}

InflateStream::InflateStream(std::istream& source) : std::istream(nullptr), buffer(source.rdbuf()) {
    rdbuf(&buffer);
}

InflateStream::~InflateStream() = default;
