// Decompressing input stream over zlib.
#include "pkgfile/inflate_stream.h"

#include <cstring>

namespace {
constexpr size_t SkipStep = 1024;
}

InflateStreamBuf::InflateStreamBuf(std::streambuf* source) : source(source) {
    std::memset(&zs, 0, sizeof zs);
    // A failed initialisation makes every inflate call fail, which reads as the end.
    inflateInit(&zs);
    setg(area + 1, area + 1, area + 1);
}

InflateStreamBuf::~InflateStreamBuf() {
    inflateEnd(&zs);
}

uint64_t InflateStreamBuf::delivered() const {
    return producedTotal - uint64_t(egptr() - gptr());
}

size_t InflateStreamBuf::refill() {
    char* out = area + 1;
    // Input may be consumed without output (a zlib header, a stored block's length);
    // such a round must not end the data, so go on until bytes arrive.
    for (;;) {
        if (zs.avail_in == 0) {
            std::streamsize got = source->sgetn(reinterpret_cast<char*>(inBuf), BlockSize);
            if (got <= 0)
                return 0;
            zs.next_in = inBuf;
            zs.avail_in = uInt(got);
        }
        zs.next_out = reinterpret_cast<Bytef*>(out);
        zs.avail_out = BlockSize;
        int result = inflate(&zs, Z_PARTIAL_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END)
            return 0;
        streamEnded = streamEnded || result == Z_STREAM_END;
        size_t made = BlockSize - zs.avail_out;
        producedTotal += made;
        if (made != 0)
            return made;
        if (result == Z_STREAM_END)
            return 0;
    }
}

InflateStreamBuf::int_type InflateStreamBuf::underflow() {
    if (gptr() < egptr())
        return traits_type::to_int_type(*gptr());
    char* start = area + 1;
    if (gptr() > eback()) {
        area[0] = gptr()[-1];
        start = area;
    }
    size_t made = refill();
    if (made == 0) {
        // Keep the put-back byte reachable, with an empty get area.
        setg(start, area + 1, area + 1);
        return traits_type::eof();
    }
    setg(start, area + 1, area + 1 + made);
    return traits_type::to_int_type(area[1]);
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

InflateStream::InflateStream(std::istream& source)
    : std::istream(nullptr), buffer(new InflateStreamBuf(source.rdbuf())) {
    rdbuf(buffer);
}

InflateStream::~InflateStream() {
    delete buffer;
}
