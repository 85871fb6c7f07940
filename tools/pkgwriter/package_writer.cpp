// Package writer: package files assembled part by part.
#include "pkgwriter/package_writer.h"

#include <zlib.h>

#include "pkgfile/byte_order.h"
#include "pkgfile/layout.h"

std::string le16(uint16_t value) {
    uint8_t bytes[2];
    encodeLE16(bytes, value);
    return std::string(reinterpret_cast<char*>(bytes), 2);
}

std::string le32(uint32_t value) {
    uint8_t bytes[4];
    encodeLE32(bytes, value);
    return std::string(reinterpret_cast<char*>(bytes), 4);
}

namespace {

template <size_t Size, typename Record, typename Encode>
std::string encoded(const Record& record, Encode encode) {
    uint8_t bytes[Size];
    encode(bytes, record);
    return std::string(reinterpret_cast<const char*>(bytes), Size);
}

}  // namespace

std::string encodeHeader(const std::string& name, Version version, uint32_t buildTime,
                         uint32_t flags, size_t size) {
    std::string data = encoded<layout::HeaderSize>(layout::Header{name, version, buildTime},
                                                   layout::encodeHeader);
    if (size >= layout::HeaderFlagsOffset + 4)
        data += le32(flags);
    data.resize(size, '\0');
    return data;
}

std::string encodeList(const std::vector<Dependency>& entries, int count) {
    std::string data = le16(uint16_t(count < 0 ? entries.size() : size_t(count)));
    for (const Dependency& entry : entries)
        data += encoded<layout::ListEntrySize>(
            layout::ListEntry{entry.name, entry.min, entry.max, entry.priority},
            layout::encodeListEntry);
    return data;
}

std::string encodeFileEntry(uint16_t mode, uint8_t processorClass, uint32_t dataLength,
                            const std::string& name) {
    return encoded<layout::FileEntryHeaderSize>(
               layout::FileEntryHeader{mode, processorClass, dataLength, uint16_t(name.size())},
               layout::encodeFileEntryHeader) +
           name;
}

std::string encodeFileEntries(const std::vector<FileEntry>& entries) {
    std::string data;
    for (const FileEntry& entry : entries)
        data += encodeFileEntry(entry.mode, entry.processorClass, uint32_t(entry.data.size()),
                                entry.name) +
                entry.data;
    return data;
}

std::string compress(const std::string& data, int level) {
    uLongf size = compressBound(uLong(data.size()));
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(&out[0]), &size, reinterpret_cast<const Bytef*>(data.data()),
              uLong(data.size()), level);
    out.resize(size);
    return out;
}

PackageWriter& PackageWriter::part(uint16_t type, const std::string& data) {
    return partWithLength(type, uint32_t(data.size()), data);
}

PackageWriter& PackageWriter::partWithLength(uint16_t type, uint32_t declaredLength,
                                             const std::string& data) {
    content += le16(type) + le32(declaredLength) + data;
    return *this;
}

PackageWriter& PackageWriter::raw(const std::string& bytes) {
    content += bytes;
    return *this;
}

PackageWriter& PackageWriter::header(const Package& package, uint16_t type, size_t size) {
    return part(
        type, encodeHeader(package.name, package.version, package.buildTime, package.flags, size));
}

PackageWriter& PackageWriter::list(uint16_t type, const std::vector<Dependency>& entries) {
    return part(type, encodeList(entries));
}

PackageWriter& PackageWriter::files(const std::vector<FileEntry>& entries) {
    return part(PartFiles, compress(encodeFileEntries(entries)));
}

PackageWriter& PackageWriter::declaredRestLength(uint32_t length) {
    restLengthGiven = true;
    restLength = length;
    return *this;
}

std::string PackageWriter::bytes() const {
    return le32(magic) + le32(restLengthGiven ? restLength : uint32_t(content.size())) + content;
}

void addPackageParts(PackageWriter& writer, const Package& package,
                     const std::vector<FileEntry>& files, const std::string& image,
                     bool withFilesPart) {
    writer.header(package, package.isBundle ? PartBundleHeader : PartPackageHeader);
    if (!package.arch.empty())
        writer.part(PartArchitecture, package.arch);
    if (!package.note.empty())
        writer.part(PartNote, package.note);
    writer.list(PartDependencies, package.deps);
    if (!package.provides.empty())
        writer.list(PartProvides, package.provides);
    if (!package.conflicts.empty())
        writer.list(PartConflicts, package.conflicts);
    if (!image.empty())
        writer.part(PartImage, image);
    if (withFilesPart && !package.isBundle)
        writer.files(files);
}
