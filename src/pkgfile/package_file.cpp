// Package file reader: part-confined reading, skipping and seeking, each byte digested once.
#include "pkgfile/package_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "pkgfile/byte_order.h"

namespace {

// Unwanted bytes are read through in blocks of at most this size, never held whole.
constexpr size_t SkipBlock = 16 * 1024;

bool isAccepted(const std::vector<uint32_t>& types, int type) {
    return std::find(types.begin(), types.end(), uint32_t(type)) != types.end();
}

}  // namespace

// Invariant of the buffer: a byte reaches the copy stream and the digest only in take(),
// at the moment it leaves the source, and the source is never rewound while either is in
// use. Put-back moves only within the get area, so a byte read again is never fed again.

PartStreamBuf::PartStreamBuf(std::streambuf* source, bool verify, std::streambuf* copy)
    : BlockStreamBuf(area, BufferSize),
      source(source),
      copy(copy),
      verify(verify),
      current(&sha1) {}

PartStreamBuf::~PartStreamBuf() = default;

uint32_t PartStreamBuf::unreadCount() const {
    return sourceUnread + uint32_t(egptr() - gptr());
}

size_t PartStreamBuf::take(uint8_t* bytes, size_t count, bool digested) {
    if (count == 0 || source == nullptr)
        return 0;
    std::streamsize got = source->sgetn(reinterpret_cast<char*>(bytes), std::streamsize(count));
    if (got <= 0)
        return 0;
    size_t n = size_t(got);
    if (copy != nullptr && copy->sputn(reinterpret_cast<const char*>(bytes), got) != got) {
        if (!copyBroken)
            copyErrno = errno;
        copyBroken = true;
    }
    if (verify && digested)
        current->update(bytes, n);
    return n;
}

bool PartStreamBuf::readFileHeader(uint32_t& magic, uint32_t& restLength) {
    uint8_t header[8];
    size_t n = take(header, sizeof header, false);
    partStart += 8;
    if (n < sizeof header)
        return false;
    magic = decodeLE32(header);
    restLength = decodeLE32(header + 4);
    return true;
}

bool PartStreamBuf::skipSource(uint64_t count) {
    if (count == 0)
        return true;
    // A short skip is read through: the source most likely holds those bytes in its
    // buffer already, and a seek would throw that buffer away and read it again.
    if (!verify && copy == nullptr && source != nullptr && count > SkipBlock &&
        source->pubseekoff(std::streamoff(count), std::ios_base::cur, std::ios_base::in) !=
            std::streampos(std::streamoff(-1)))
        return true;
    uint8_t block[SkipBlock];
    while (count > 0) {
        size_t wanted = size_t(std::min<uint64_t>(count, SkipBlock));
        size_t n = take(block, wanted, true);
        if (n == 0)
            return false;
        count -= n;
    }
    return true;
}

int PartStreamBuf::nextPart() {
    uint64_t toSkip = sourceUnread;
    dropGetArea();
    partStart += length;
    length = 0;
    sourceUnread = 0;
    if (!skipSource(toSkip)) {
        endOfParts();
        return PartEnd;
    }
    uint8_t header[6];
    if (take(header, sizeof header, false) < sizeof header) {
        endOfParts();
        return PartEnd;
    }
    int type = decodeLE16(header);
    if (verify) {
        // The selector's own header already belongs to the SHA-256 digest; a package
        // header ends whatever digest ran before it and begins its own.
        if (type == PartDigestSelector)
            current = &sha256;
        else if (type == PartPackageHeader)
            current->finish(digestBuffer);
        current->update(header, sizeof header);
    }
    partStart += sizeof header;
    length = decodeLE32(header + 2);
    sourceUnread = length;
    return type;
}

void PartStreamBuf::endOfParts() {
    if (verify)
        finishDigest();
}

void PartStreamBuf::finishDigest() {
    current->finish(digestBuffer);
}

size_t PartStreamBuf::readUndigested(uint8_t* bytes, size_t count) {
    // Bytes already in the get area were digested when they were taken; a reader of
    // undigested bytes calls this straight after nextPart, when the area is empty.
    size_t done = std::min(count, size_t(egptr() - gptr()));
    std::memcpy(bytes, gptr(), done);
    gbump(int(done));
    size_t wanted = std::min<size_t>(count - done, sourceUnread);
    size_t n = take(bytes + done, wanted, false);
    sourceUnread -= uint32_t(n);
    done += n;
    if (done > 0)
        keepForPutback(char(bytes[done - 1]));
    return done;
}

size_t PartStreamBuf::fill(char* bytes, size_t count) {
    // Never more than the part has left. The comparison is unsigned 64-bit: a part may
    // declare up to 4 GiB.
    size_t wanted = size_t(std::min<uint64_t>(count, sourceUnread));
    size_t n = take(reinterpret_cast<uint8_t*>(bytes), wanted, true);
    sourceUnread -= uint32_t(n);
    return n;
}

PartStreamBuf::int_type PartStreamBuf::pbackfail(int_type) {
    // Only bytes still in the get area can be read again: the source is never rewound,
    // so nothing can be put back before the part's first byte or a byte read earlier.
    return traits_type::eof();
}

std::streamsize PartStreamBuf::showmanyc() {
    // The part's own count, not the source's: a pipe then answers like a file. Capped,
    // so that a part of more than 2 GiB is not negative on the board.
    if (sourceUnread == 0)
        return -1;
    return std::streamsize(
        std::min<uint64_t>(sourceUnread, std::numeric_limits<std::streamsize>::max()));
}

bool PartStreamBuf::skipForward(uint32_t count) {
    while (count > 0) {
        uint32_t buffered = uint32_t(egptr() - gptr());
        if (buffered == 0) {
            if (traits_type::eq_int_type(underflow(), traits_type::eof()))
                return false;
            continue;
        }
        uint32_t step = std::min(count, buffered);
        gbump(int(step));
        count -= step;
    }
    return true;
}

PartStreamBuf::pos_type PartStreamBuf::seekoff(off_type offset, std::ios_base::seekdir dir,
                                               std::ios_base::openmode which) {
    off_type base = 0;
    if (dir == std::ios_base::cur)
        base = position();
    else if (dir == std::ios_base::end)
        base = length;
    return seekpos(pos_type(base + offset), which);
}

PartStreamBuf::pos_type PartStreamBuf::seekpos(pos_type target, std::ios_base::openmode which) {
    const pos_type failed = pos_type(off_type(-1));
    off_type wanted = off_type(target);
    if (!(which & std::ios_base::in) || wanted < 0 || wanted > off_type(length))
        return failed;
    off_type here = position();
    if (wanted == here)
        return target;
    if (!verify && copy == nullptr && source != nullptr) {
        // Nothing needs the bytes in between: move the source itself, either way.
        off_type sourceHere = off_type(length) - off_type(sourceUnread);
        if (source->pubseekoff(wanted - sourceHere, std::ios_base::cur, std::ios_base::in) !=
            failed) {
            dropGetArea();
            sourceUnread = uint32_t(off_type(length) - wanted);
            return target;
        }
    }
    // The digest and the copy stream must see every byte once and in order, so only
    // forward moves are possible, by reading through.
    if (wanted < here || !skipForward(uint32_t(wanted - here)))
        return failed;
    return target;
}

PackageFile::PackageFile(std::istream& source, bool verify, std::streambuf* copy)
    : std::istream(nullptr), parts(source.rdbuf(), verify, copy) {
    rdbuf(&parts);
    uint32_t restLength = 0;
    if (!parts.readFileHeader(magic, restLength)) {
        magic = 0xFFFFFFFF;
        setstate(badbit);
        return;
    }
    totalSize = uint64_t(restLength) + 8;
    if (magic != PackageMagic && magic != UnrecordedMagic)
        setstate(badbit);
}

PackageFile::~PackageFile() = default;

int PackageFile::nextPart() {
    if (bad() || fail()) {
        currentType = PartEnd;
        return PartEnd;
    }
    clear();
    for (;;) {
        int type = parts.nextPart();
        currentType = type;
        if (type == PartEnd) {
            setstate(eofbit | failbit);
            return PartEnd;
        }
        if (isAccepted(acceptedTypes, type))
            return type;
    }
}
