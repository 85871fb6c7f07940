// Readers of a package file's header parts, and the description of a package file on disk.
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <memory>

#include "pkg/package_header.h"
#include "pkgfile/byte_order.h"
#include "pkgfile/layout.h"
#include "pkgfile/package_file.h"

namespace {

// The current text part, held up to MaxTextPart bytes; the rest of it is left for the
// next nextPart to pass over. A part cut short leaves the bytes that arrived and the
// stream failed.
std::string readText(PackageFile& file) {
    std::string text(std::min(file.partLength(), MaxTextPart), '\0');
    file.read(&text[0], std::streamsize(text.size()));
    text.resize(size_t(file.gcount()));
    return text;
}

// Takes the current part into list when it is of the given type; false only when such
// a part is cut short.
bool readListPart(PackageFile& file, int type, std::vector<Dependency>& list) {
    if (file.currentType != type)
        return true;
    if (!readDependencyList(file, list))
        return false;
    file.nextPart();
    return true;
}

}  // namespace

bool readDependencyList(PackageFile& file, std::vector<Dependency>& list) {
    uint8_t count[layout::ListCountSize];
    if (!file.read(reinterpret_cast<char*>(count), sizeof count))
        return false;
    // Entry by entry: a count is no reason to reserve memory before the entries arrive.
    for (unsigned left = decodeLE16(count); left > 0; --left) {
        uint8_t bytes[layout::ListEntrySize];
        if (!file.read(reinterpret_cast<char*>(bytes), sizeof bytes))
            return false;
        layout::ListEntry entry = layout::decodeListEntry(bytes);
        list.push_back(Dependency{entry.name, entry.min, entry.max, entry.priority});
    }
    return true;
}

bool readPackageHeader(Package& record, PackageFile& file) {
    if (file.currentType != PartPackageHeader && file.currentType != PartBundleHeader)
        return false;
    record.isBundle = file.currentType == PartBundleHeader;
    layout::Header header;
    if (!layout::readHeader(file, header))
        return false;
    record.name = header.name;
    record.version = header.version;
    record.buildTime = header.buildTime;
    uint8_t flags[4];
    record.flags =
        file.readsome(reinterpret_cast<char*>(flags), sizeof flags) == 4 ? decodeLE32(flags) : 0;
    file.nextPart();

    // The optional parts come in one fixed order; each is looked at once.
    if (file.currentType == PartText24)
        file.nextPart();
    if (file.currentType == PartArchitecture) {
        record.arch = readText(file);
        file.nextPart();
    } else {
        record.arch = "i386";
    }
    if (file.currentType == PartText2)
        file.nextPart();
    if (file.currentType == PartNote) {
        record.note = readText(file);
        file.nextPart();
    }
    if (!readListPart(file, PartDependencies, record.deps) ||
        !readListPart(file, PartProvides, record.provides) ||
        !readListPart(file, PartConflicts, record.conflicts))
        return false;
    if (file.currentType == PartImage)
        record.keepImage = true;
    return true;
}

bool readPackageInfo(CandidatePackage& record, const std::string& path) {
    record.path = path;
    // Only a regular file is read: the stream library throws when it reads a directory,
    // and a FIFO would block the run for good.
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    std::ifstream input(path, std::ios::binary);
    if (!input.is_open())
        return false;
    // Only the headers are read: the parts between them are passed over by seeking.
    PackageFile file(input, false);
    if (uint64_t(info.st_size) != file.totalSize)
        return false;
    file.acceptedTypes = {PartBundleHeader, PartPackageHeader, PartText24,       PartArchitecture,
                          PartText2,        PartNote,          PartDependencies, PartProvides,
                          PartConflicts,    PartImage};
    file.nextPart();
    if (!readPackageHeader(record, file))
        return false;
    if (!record.isBundle)
        return true;

    if (file.currentType == PartImage)
        file.nextPart();
    while (file.currentType == PartPackageHeader) {
        auto member = std::make_unique<Package>();
        if (!readPackageHeader(*member, file))
            return false;
        record.contents.push_back(std::move(member));
        if (file.currentType == PartImage)
            file.nextPart();
    }
    return !record.contents.empty();
}
