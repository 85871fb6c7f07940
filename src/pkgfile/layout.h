// The fixed-size records of a package file, the one place that knows where their fields
// lie: a header part, an entry of a list part, and the header of a file entry of the files
// part. Every number is little-endian (byte_order.h).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>

#include "pkgfile/byte_order.h"

namespace layout {

// A name field: 16 bytes, the name cut to them and padded with NULs.
constexpr size_t NameSize = 16;

inline std::string decodeName(const uint8_t* field) {
    const uint8_t* end = std::find(field, field + NameSize, 0);
    return std::string(reinterpret_cast<const char*>(field), size_t(end - field));
}

inline void encodeName(uint8_t* field, const std::string& name) {
    std::fill(field, field + NameSize, 0);
    std::copy_n(name.begin(), std::min(name.size(), NameSize), field);
}

// A package or bundle header part: name, version, build time, 8 unused bytes; a flags word
// follows when the part is longer.
constexpr size_t HeaderSize = 32;
constexpr size_t HeaderFlagsOffset = 32;
struct Header {
    std::string name;
    uint32_t version = 0;
    uint32_t buildTime = 0;
};

inline Header decodeHeader(const uint8_t* bytes) {
    return {decodeName(bytes), decodeLE32(bytes + 16), decodeLE32(bytes + 20)};
}

inline void encodeHeader(uint8_t* bytes, const Header& header) {
    std::fill(bytes, bytes + HeaderSize, 0);
    encodeName(bytes, header.name);
    encodeLE32(bytes + 16, header.version);
    encodeLE32(bytes + 20, header.buildTime);
}

// An entry of a list part (dependencies, provides, conflicts, list 20), after the 16-bit
// count: name, min, 4 unused bytes, max, priority.
constexpr size_t ListCountSize = 2;
constexpr size_t ListEntrySize = 32;
struct ListEntry {
    std::string name;
    uint32_t min = 0;
    uint32_t max = 0;
    int32_t priority = 0;
};

inline ListEntry decodeListEntry(const uint8_t* bytes) {
    return {decodeName(bytes), decodeLE32(bytes + 16), decodeLE32(bytes + 24),
            int32_t(decodeLE32(bytes + 28))};
}

inline void encodeListEntry(uint8_t* bytes, const ListEntry& entry) {
    std::fill(bytes, bytes + ListEntrySize, 0);
    encodeName(bytes, entry.name);
    encodeLE32(bytes + 16, entry.min);
    encodeLE32(bytes + 24, entry.max);
    encodeLE32(bytes + 28, uint32_t(entry.priority));
}

// The header of a file entry in the decompressed files part: mode, 21 unused bytes,
// processor class, data length, name length; the name and then the data follow.
constexpr size_t FileEntryHeaderSize = 30;
struct FileEntryHeader {
    uint16_t mode = 0;
    uint8_t processorClass = 0;
    uint32_t dataLength = 0;
    uint16_t nameLength = 0;
};

inline FileEntryHeader decodeFileEntryHeader(const uint8_t* bytes) {
    return {decodeLE16(bytes), bytes[23], decodeLE32(bytes + 24), decodeLE16(bytes + 28)};
}

inline void encodeFileEntryHeader(uint8_t* bytes, const FileEntryHeader& header) {
    std::fill(bytes, bytes + FileEntryHeaderSize, 0);
    encodeLE16(bytes, header.mode);
    bytes[23] = header.processorClass;
    encodeLE32(bytes + 24, header.dataLength);
    encodeLE16(bytes + 28, header.nameLength);
}

// Reads the fixed fields of a header part from in; false when they are cut short.
inline bool readHeader(std::istream& in, Header& header) {
    uint8_t bytes[HeaderSize];
    if (!in.read(reinterpret_cast<char*>(bytes), sizeof bytes))
        return false;
    header = decodeHeader(bytes);
    return true;
}

// What reading the next file entry of a decompressed files part found.
enum class EntryRead {
    Entry,         // the header and the name; the data follows
    End,           // no whole header: the entries have ended
    NameCutShort,  // the name is cut short
};

inline EntryRead readFileEntry(std::istream& in, FileEntryHeader& header, std::string& name) {
    uint8_t bytes[FileEntryHeaderSize];
    in.read(reinterpret_cast<char*>(bytes), sizeof bytes);
    if (size_t(in.gcount()) != sizeof bytes)
        return EntryRead::End;
    header = decodeFileEntryHeader(bytes);
    name.assign(header.nameLength, '\0');
    in.read(&name[0], std::streamsize(name.size()));
    return size_t(in.gcount()) == name.size() ? EntryRead::Entry : EntryRead::NameCutShort;
}

}  // namespace layout
