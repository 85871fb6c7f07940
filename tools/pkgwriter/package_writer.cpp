// Package writer: package files assembled part by part.
#include "pkgwriter/package_writer.h"

#include <zlib.h>

#include "pkgfile/byte_order.h"

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

std::string paddedName(const std::string& name) {
    std::string field = name.substr(0, 16);
    field.resize(16, '\0');
    return field;
}

}  // namespace

std::string encodeHeader(const std::string& name, Version version, uint32_t buildTime,
                         uint32_t flags, size_t size) {
    std::string data = paddedName(name) + le32(version) + le32(buildTime) + std::string(8, '\0');
    if (size >= 36)
        data += le32(flags);
    data.resize(size, '\0');
    return data;
}

std::string encodeList(const std::vector<Dependency>& entries, int count) {
    std::string data = le16(uint16_t(count < 0 ? entries.size() : size_t(count)));
    for (const Dependency& entry : entries)
        data += paddedName(entry.name) + le32(entry.min) + le32(0) + le32(entry.max) +
                le32(uint32_t(entry.priority));
    return data;
}

std::string encodeFileEntries(const std::vector<FileEntry>& entries) {
    std::string data;
    for (const FileEntry& entry : entries) {
        data += le16(entry.mode) + std::string(21, '\0') + char(entry.processorClass) +
                le32(uint32_t(entry.data.size())) + le16(uint16_t(entry.name.size())) + entry.name +
                entry.data;
    }
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
