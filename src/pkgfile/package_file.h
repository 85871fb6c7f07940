// Package file reader: a package file taken apart part by part, every byte passing once
// through the signature digest and the copy stream.
#pragma once

#include <cstdint>
#include <istream>
#include <streambuf>
#include <string>
#include <vector>

#include "platform/block_stream_buf.h"
#include "platform/hash.h"

enum class SignatureLevel : int;

constexpr uint32_t PackageMagic = 0xBAD0F11E;
constexpr uint32_t UnrecordedMagic = 0xA1100FFB;

// Part types the system knows; any other type is skipped whole.
enum PartType : int {
    PartEnd = -1,
    PartPackageHeader = 1,
    PartText2 = 2,
    PartDependencies = 3,
    PartFiles = 4,
    PartSignature = 9,
    PartArchitecture = 16,
    PartConflicts = 17,
    PartBundleHeader = 18,
    PartProvides = 19,
    PartBlockList = 20,
    PartImage = 21,
    PartNote = 23,
    PartText24 = 24,
    PartDigestSelector = 25,
};

// Text parts that are kept (architecture, note) are held up to this many bytes; the rest
// of such a part is passed over. No length field makes the reader allocate more.
constexpr uint32_t MaxTextPart = 64 * 1024;

// The stream buffer under a PackageFile. Reads are confined to the current part's data;
// positions count from the start of that data. Bytes reach the digest and the copy
// stream exactly once, in file order, however often a reader puts bytes back.
class PartStreamBuf : public BlockStreamBuf {
  public:
    // source and copy are not owned; copy may be null.
    PartStreamBuf(std::streambuf* source, bool verify, std::streambuf* copy);
    ~PartStreamBuf() override;

    // Reads the 8-byte file header (to the copy stream, never to the digest). Returns
    // false when fewer than 8 bytes arrive.
    bool readFileHeader(uint32_t& magic, uint32_t& restLength);
    // Leaves the current part and reads the next part header; the type, or -1 at the
    // end of the file or when the skip comes up short.
    int nextPart();

    uint64_t partOffset() const { return partStart; }
    uint32_t partLength() const { return length; }
    // Bytes of the current part not yet consumed by the reader.
    uint32_t unreadCount() const;
    // Position within the current part.
    uint32_t position() const { return length - unreadCount(); }

    bool verifying() const { return verify; }
    // Finishes the current hash object into the digest buffer.
    void finishDigest();
    const uint8_t* digest() const { return digestBuffer; }
    // Reads up to count bytes of the current part without feeding the digest (the copy
    // stream still gets them). Returns how many arrived.
    size_t readUndigested(uint8_t* bytes, size_t count);
    // True once the copy stream took fewer bytes than it was given (a full disk): the
    // copy is then incomplete, though reading goes on.
    bool copyFailed() const { return copyBroken; }
    // The system error number of the first failed copy (ENOSPC for a full disk).
    int copyError() const { return copyErrno; }

  protected:
    // The next bytes of the current part, taken from the source.
    size_t fill(char* bytes, size_t count) override;
    int_type pbackfail(int_type c) override;
    std::streamsize showmanyc() override;
    pos_type seekoff(off_type offset, std::ios_base::seekdir dir,
                     std::ios_base::openmode which) override;
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

  private:
    // Takes up to count bytes from the source; they go on to the copy stream and, when
    // digested is true and verifying, to the current hash.
    size_t take(uint8_t* bytes, size_t count, bool digested);
    // Passes over count bytes of the source: one seek when nothing needs the bytes,
    // else read through. False when the source ends first.
    bool skipSource(uint64_t count);
    // Moves forward by count bytes within the current part.
    bool skipForward(uint32_t count);
    // The end of the file was met: the running digest is finished.
    void endOfParts();

    std::streambuf* source;
    std::streambuf* copy;
    bool verify;
    SHA1 sha1;
    SHA256 sha256;
    Hash* current;
    uint8_t digestBuffer[32] = {};
    bool copyBroken = false;
    int copyErrno = 0;

    uint64_t partStart = 0;     // file offset of the current part's data
    uint32_t length = 0;        // length of the current part's data
    uint32_t sourceUnread = 0;  // bytes of the part not yet taken from the source
    // Get area: bytes of the current part taken from the source but not yet read.
    static constexpr size_t BufferSize = 4096;
    char area[1 + BufferSize];
};

// A package file opened over an input stream. The source stream and the copy stream
// are not owned.
class PackageFile : public std::istream {
  public:
    PackageFile(std::istream& source, bool verify, std::streambuf* copy = nullptr);
    ~PackageFile() override;

    // Moves to the next part whose type is accepted; its type, or -1 at the end or when
    // the stream is bad or failed.
    int nextPart();

    uint32_t partLength() const { return parts.partLength(); }
    uint64_t partOffset() const { return parts.partOffset(); }
    uint32_t position() const { return parts.position(); }
    // Offset in the whole file of the next byte to be read.
    uint64_t offset() const { return partOffset() + position(); }
    bool isUnrecorded() const { return magic == UnrecordedMagic; }
    PartStreamBuf& buffer() { return parts; }

    // Signature level of the current signature part.
    // Requires: the current part is a signature part.
    SignatureLevel verify();

    std::vector<uint32_t> acceptedTypes;
    int currentType = -1;
    uint64_t totalSize = 0;
    uint32_t magic = 0;

  private:
    PartStreamBuf parts;
};
