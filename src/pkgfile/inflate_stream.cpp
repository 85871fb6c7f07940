// Decompressing input stream over zlib.
#include "pkgfile/inflate_stream.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr size_t SkipStep = 1024;
}

std::streamoff forwardDistance(std::streamoff offset, std::ios_base::seekdir direction,
                               uint64_t now) {
    std::streamoff distance = -1;
    if (direction == std::ios_base::cur)
        distance = offset;
    else if (direction == std::ios_base::beg)
        distance = offset - std::streamoff(now);
    return distance < 0 ? -1 : distance;
}

// The data is inflated raw: the zlib header is checked here, and the Adler-32 check at the
// end is passed over, since the package's signature covers every byte of the part.
InflateStreamBuf::InflateStreamBuf(std::streambuf* source)
    : BlockStreamBuf(area, BlockSize), source(source) {
    std::memset(&zs, 0, sizeof zs);
    // A failed initialisation makes every inflate call fail, which reads as the end.
    inflateInit2(&zs, -MAX_WBITS);
}

InflateStreamBuf::~InflateStreamBuf() {
    inflateEnd(&zs);
}

uint64_t InflateStreamBuf::delivered() const {
    return producedTotal - uint64_t(egptr() - gptr());
}

bool InflateStreamBuf::input() {
    if (zs.avail_in != 0)
        return true;
    std::streamsize got = source->sgetn(reinterpret_cast<char*>(inBuf), sizeof inBuf);
    if (got <= 0)
        return false;
    zs.next_in = inBuf;
    zs.avail_in = uInt(got);
    return true;
}

// Takes count bytes of input; false when the source ends first.
bool InflateStreamBuf::takeInput(uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (!input())
            return false;
        bytes[i] = *zs.next_in++;
        --zs.avail_in;
    }
    return true;
}

// Two bytes: deflate with a window of at most 32 KiB, no preset dictionary, and a check
// that makes their number a multiple of 31.
bool InflateStreamBuf::headerIsValid() {
    uint8_t header[2];
    return takeInput(header, 2) && (header[0] & 0x0F) == Z_DEFLATED && (header[0] >> 4) <= 7 &&
           (header[1] & 0x20) == 0 && (header[0] * 256 + header[1]) % 31 == 0;
}

size_t InflateStreamBuf::fill(char* bytes, size_t count) {
    if (broken || streamEnded)
        return 0;
    if (!headerRead) {
        headerRead = true;
        broken = !headerIsValid();
        if (broken)
            return 0;
    }
    uInt room = uInt(std::min<size_t>(count, MaxFill));
    // Input may be consumed without output (a stored block's length); such a round must
    // not end the data, so go on until bytes arrive.
    for (;;) {
        if (!input())
            return 0;
        zs.next_out = reinterpret_cast<Bytef*>(bytes);
        zs.avail_out = room;
        int result = inflate(&zs, Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END) {
            broken = true;
            return 0;
        }
        size_t made = room - zs.avail_out;
        producedTotal += made;
        if (result == Z_STREAM_END) {
            // The four bytes of the check must be there for the stream to be whole.
            uint8_t check[4];
            streamEnded = takeInput(check, sizeof check);
            broken = !streamEnded;
            return made;
        }
        if (made != 0)
            return made;
    }
}

InflateStreamBuf::pos_type InflateStreamBuf::seekoff(off_type offset,
                                                     std::ios_base::seekdir direction,
                                                     std::ios_base::openmode) {
    off_type skip = forwardDistance(offset, direction, delivered());
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
