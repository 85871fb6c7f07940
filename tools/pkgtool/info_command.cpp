// pkgtool info: every part of a package file with its offset and length, the header
// fields and lists decoded, and the entries of files parts.
#include <ctime>
#include <iomanip>
#include <iostream>
#include <sstream>

#include "commands.h"
#include "pkgfile/byte_order.h"
#include "pkgfile/inflate_stream.h"
#include "pkgfile/layout.h"
#include "pkgwriter/bundle_writer.h"

namespace {

const char* partName(uint16_t type) {
    switch (type) {
        case PartPackageHeader:
            return "package header";
        case PartText2:
            return "text part 2";
        case PartDependencies:
            return "dependencies";
        case PartFiles:
            return "files";
        case PartSignature:
            return "signature";
        case PartArchitecture:
            return "architecture";
        case PartConflicts:
            return "conflicts";
        case PartBundleHeader:
            return "bundle header";
        case PartProvides:
            return "provides";
        case PartBlockList:
            return "list part 20";
        case PartImage:
            return "image";
        case PartNote:
            return "note";
        case PartText24:
            return "text part 24";
        case PartDigestSelector:
            return "digest selector";
    }
    return "unknown type";
}

const uint8_t* at(const std::string& data, size_t offset) {
    return reinterpret_cast<const uint8_t*>(data.data()) + offset;
}

std::string utcText(uint32_t time) {
    std::time_t t = std::time_t(time);
    std::tm parts;
    char text[64];
    if (!gmtime_r(&t, &parts) || !std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts))
        return "?";
    return text;
}

// Printable form of a text part: at most 200 bytes, control bytes escaped.
std::string printable(const std::string& text) {
    std::ostringstream out;
    out << '"';
    for (size_t i = 0; i < text.size() && i < 200; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\')
            out << '\\' << char(c);
        else if (c < 0x20 || c >= 0x7F)
            out << "\\x" << std::hex << std::setw(2) << std::setfill('0') << unsigned(c)
                << std::dec;
        else
            out << char(c);
    }
    out << (text.size() > 200 ? "\"..." : "\"");
    return out.str();
}

void printHeader(const std::string& data) {
    if (data.size() < layout::HeaderSize) {
        std::cout << "    cut short: " << data.size() << " of 32 bytes\n";
        return;
    }
    layout::Header header = layout::decodeHeader(at(data, 0));
    const std::string& name = header.name;
    Version version = header.version;
    uint32_t buildTime = header.buildTime;
    std::cout << "    name " << printable(name) << ", version " << versionText(version) << " (0x"
              << std::hex << std::setw(8) << std::setfill('0') << version << std::dec << "), built "
              << utcText(buildTime) << " (" << buildTime << ")";
    if (data.size() >= layout::HeaderFlagsOffset + 4)
        std::cout << ", flags 0x" << std::hex << decodeLE32(at(data, layout::HeaderFlagsOffset))
                  << std::dec;
    std::cout << "\n";
}

void printList(const std::string& data, uint16_t type) {
    if (data.size() < 2) {
        std::cout << "    cut short: no entry count\n";
        return;
    }
    size_t count = decodeLE16(at(data, 0));
    std::cout << "    " << count << (count == 1 ? " entry" : " entries") << "\n";
    for (size_t i = 0; i < count; ++i) {
        size_t offset = layout::ListCountSize + layout::ListEntrySize * i;
        if (offset + layout::ListEntrySize > data.size()) {
            std::cout << "    cut short after " << i << " entries\n";
            return;
        }
        layout::ListEntry read = layout::decodeListEntry(at(data, offset));
        Dependency entry{read.name, read.min, read.max, read.priority};
        std::cout << "      " << listEntryText(entry, type == PartProvides) << "\n";
    }
}

void printFiles(const std::string& data) {
    std::istringstream source(data);
    InflateStream in(source);
    size_t count = 0;
    uint64_t total = 0;
    layout::FileEntryHeader header;
    std::string name;
    for (;;) {
        layout::EntryRead read = layout::readFileEntry(in, header, name);
        if (read == layout::EntryRead::End)
            break;
        if (read == layout::EntryRead::NameCutShort) {
            std::cout << "      entry name cut short\n";
            return;
        }
        uint16_t mode = header.mode;
        uint8_t processorClass = header.processorClass;
        uint32_t size = header.dataLength;
        std::cout << "      " << std::oct << std::setw(6) << std::setfill('0') << mode << std::dec
                  << std::setfill(' ') << " class " << std::setw(3) << unsigned(processorClass)
                  << std::setw(11) << size << " " << printable(name) << "\n";
        if (size != 0 && !in.seekg(std::streamoff(size), std::ios_base::cur)) {
            std::cout << "      data of " << printable(name) << " cut short or corrupt\n";
            return;
        }
        ++count;
        total += size;
    }
    std::cout << "    " << count << " entries, " << total << " bytes unpacked";
    if (in.produced() == 0 && count == 0)
        std::cout << " (no zlib data)";
    std::cout << "\n";
}

}  // namespace

int infoCommand(const std::vector<std::string>& args) {
    if (args.size() != 1 || args[0].empty() || args[0][0] == '-')
        return fail(ExitUsage, "usage: pkgtool info FILE");
    std::string file, error;
    if (!readWholeFile(args[0], file, error))
        return fail(ExitFailure, error);
    std::vector<PartLocation> parts;
    if (!listParts(file, parts, error))
        return fail(ExitFailure, args[0] + ": " + error);
    uint32_t magic = decodeLE32(at(file, 0));
    uint64_t declared = uint64_t(decodeLE32(at(file, 4))) + 8;
    std::cout << args[0] << ": "
              << (magic == UnrecordedMagic ? "unrecorded package file" : "package file") << ", "
              << file.size() << " bytes";
    if (declared != file.size())
        std::cout << " (the header says " << declared << ")";
    std::cout << "\n";
    for (const PartLocation& part : parts) {
        std::cout << "  @" << part.headerOffset << " part " << part.type << " ("
                  << partName(part.type) << "), " << part.length << " bytes\n";
        std::string data = file.substr(part.headerOffset + 6, part.length);
        switch (part.type) {
            case PartPackageHeader:
            case PartBundleHeader:
                printHeader(data);
                break;
            case PartDependencies:
            case PartConflicts:
            case PartProvides:
            case PartBlockList:
                printList(data, part.type);
                break;
            case PartArchitecture:
            case PartNote:
                std::cout << "    " << printable(data) << "\n";
                break;
            case PartFiles:
                printFiles(data);
                break;
        }
    }
    size_t end = parts.empty() ? 8 : parts.back().headerOffset + 6 + parts.back().length;
    if (end < file.size())
        std::cout << "  " << file.size() - end << " bytes after the last part\n";
    return 0;
}
