// Package writer: builds package files part by part, byte-exact, including malformed
// ones. Tests make their fixtures with it and pkgtool builds real packages with it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pkg/package.h"
#include "pkgfile/package_file.h"

// One entry of a files part.
struct FileEntry {
    std::string name;
    std::string data;
    uint16_t mode = 0100644;
    uint8_t processorClass = 0;
};

// Part data encoders.

// A header part: name (NUL-padded to 16 bytes; longer names are cut), version, build
// time, 8 unused bytes, then the flags word when size is 36 or more; size below 32 cuts
// the part short, above 36 pads it with zeros.
std::string encodeHeader(const std::string& name, Version version, uint32_t buildTime,
                         uint32_t flags = 0, size_t size = 36);
// A list part: the count (entries.size() unless count is given), then 32-byte entries.
std::string encodeList(const std::vector<Dependency>& entries, int count = -1);
// The header of one file entry and its name, as the decompressed files part holds them.
std::string encodeFileEntry(uint16_t mode, uint8_t processorClass, uint32_t dataLength,
                            const std::string& name);
// The decompressed form of a files part: entry headers, names and contents.
std::string encodeFileEntries(const std::vector<FileEntry>& entries);
// zlib format (header and Adler-32 trailer).
std::string compress(const std::string& data, int level = 6);

// Assembles a package file: the 8-byte file header and then the parts as added.
class PackageWriter {
  public:
    explicit PackageWriter(uint32_t magic = PackageMagic) : magic(magic) {}

    // A part whose length field is the data's length.
    PackageWriter& part(uint16_t type, const std::string& data);
    // A part whose length field says declaredLength, whatever data holds.
    PackageWriter& partWithLength(uint16_t type, uint32_t declaredLength, const std::string& data);
    // Bytes appended as they are (a cut-short part header, trailing garbage).
    PackageWriter& raw(const std::string& bytes);

    PackageWriter& header(const Package& package, uint16_t type = PartPackageHeader,
                          size_t size = 36);
    PackageWriter& list(uint16_t type, const std::vector<Dependency>& entries);
    PackageWriter& files(const std::vector<FileEntry>& entries);

    // The file header's length field is the size of what follows unless overridden.
    PackageWriter& declaredRestLength(uint32_t length);

    // The parts written so far, without the file header.
    const std::string& body() const { return content; }
    // The whole file.
    std::string bytes() const;

  private:
    uint32_t magic;
    bool restLengthGiven = false;
    uint32_t restLength = 0;
    std::string content;
};

// The parts of a package in the order readers expect, from its header up to (not
// including) the signature part: 1 [16] [23] [3] [19] [17] [21] [4]. The architecture
// part is written when package.arch is not empty, the image part when image is not empty.
void addPackageParts(PackageWriter& writer, const Package& package,
                     const std::vector<FileEntry>& files, const std::string& image = "",
                     bool withFilesPart = true);

// Little-endian helpers for hand-made bytes.
std::string le16(uint16_t value);
std::string le32(uint32_t value);
