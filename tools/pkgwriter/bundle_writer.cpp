// Bundles built from signed member package files.
#include "pkgwriter/bundle_writer.h"

#include <algorithm>

#include "pkgfile/byte_order.h"

namespace {

constexpr size_t FileHeaderSize = 8;
constexpr size_t PartHeaderSize = 6;

const uint8_t* bytesAt(const std::string& file, size_t offset) {
    return reinterpret_cast<const uint8_t*>(file.data()) + offset;
}

}  // namespace

bool listParts(const std::string& file, std::vector<PartLocation>& parts, std::string& error) {
    parts.clear();
    if (file.size() < FileHeaderSize) {
        error = "not a package file: shorter than its header";
        return false;
    }
    uint32_t magic = decodeLE32(bytesAt(file, 0));
    if (magic != PackageMagic && magic != UnrecordedMagic) {
        error = "not a package file: unknown magic";
        return false;
    }
    size_t offset = FileHeaderSize;
    // As the reader does, the file ends where no whole part header is left.
    while (file.size() - offset >= PartHeaderSize) {
        PartLocation part;
        part.type = decodeLE16(bytesAt(file, offset));
        part.headerOffset = offset;
        part.length = decodeLE32(bytesAt(file, offset + 2));
        if (part.length > file.size() - offset - PartHeaderSize) {
            error = "part of type " + std::to_string(part.type) + " at offset " +
                    std::to_string(offset) + " runs past the end of the file";
            return false;
        }
        parts.push_back(part);
        offset += PartHeaderSize + part.length;
    }
    return true;
}

bool takeMember(const std::string& file, BundleMember& member, std::string& error) {
    std::vector<PartLocation> parts;
    if (!listParts(file, parts, error))
        return false;
    DigestKind digest = DigestKind::Sha1;
    size_t header = parts.size();
    for (size_t i = 0; i < parts.size() && header == parts.size(); ++i) {
        if (parts[i].type == PartDigestSelector)
            digest = DigestKind::Sha256;
        else if (parts[i].type == PartBundleHeader)
            break;
        else if (parts[i].type == PartPackageHeader)
            header = i;
    }
    if (header == parts.size()) {
        error = "no package header (a bundle cannot be a member)";
        return false;
    }
    size_t signature = header + 1;
    while (signature < parts.size() && parts[signature].type != PartSignature &&
           parts[signature].type != PartPackageHeader)
        ++signature;
    if (signature == parts.size() || parts[signature].type != PartSignature) {
        error = "the package is not signed";
        return false;
    }
    size_t begin = parts[header].headerOffset;
    size_t end = parts[signature].headerOffset + PartHeaderSize + parts[signature].length;
    member.parts = file.substr(begin, end - begin);
    const PartLocation& headerPart = parts[header];
    std::string name = file.substr(headerPart.headerOffset + PartHeaderSize,
                                   std::min<size_t>(headerPart.length, 16));
    member.name = name.substr(0, name.find('\0'));
    member.digest = digest;
    return true;
}

bool buildBundle(std::string& file, const Package& bundle, const std::vector<Dependency>& blocked,
                 const std::vector<BundleMember>& members, uint32_t magic, std::string& error,
                 const std::string& image) {
    if (members.empty()) {
        error = "a bundle needs at least one member";
        return false;
    }
    for (const BundleMember& member : members) {
        if (member.digest != members.front().digest) {
            error = "members use different digests; build them all with the same --digest";
            return false;
        }
        if (member.name == bundle.name) {
            error = "member " + member.name + " has the name of the bundle";
            return false;
        }
    }
    PackageWriter writer(magic);
    if (members.front().digest == DigestKind::Sha256)
        writer.part(PartDigestSelector, DigestSelectorData);
    // The installer refuses a bundle with lists of its own, so none are written.
    writer.header(bundle, PartBundleHeader);
    if (!bundle.arch.empty())
        writer.part(PartArchitecture, bundle.arch);
    if (!bundle.note.empty())
        writer.part(PartNote, bundle.note);
    if (bundle.keepImage)
        writer.part(PartImage, image);
    if (!blocked.empty())
        writer.list(PartBlockList, blocked);
    for (const BundleMember& member : members)
        writer.raw(member.parts);
    file = writer.bytes();
    return true;
}
