// pkgtool build: a signed package file from the files under a directory.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>

#include "commands.h"
#include "pkgfile/byte_order.h"
#include "pkgwriter/signer.h"

#ifndef PKGTOOL_KEY_DIR
#define PKGTOOL_KEY_DIR "keys"
#endif

namespace {

const std::string BuildUsage =
    "usage: pkgtool build -o FILE --name NAME --version VERSION [options] [DIR]";

struct BuildOptions {
    std::string output;
    std::string directory;  // empty: a package without files part
    Package package;
    std::string imagePath;
    std::map<std::string, uint8_t> processorClasses;  // path below DIR -> class
    bool unrecorded = false;
    DigestKind digest = DigestKind::Sha256;
    SignatureKind signature = SignatureKind::Both;
    std::string ed25519Key = std::string(PKGTOOL_KEY_DIR) + "/development-ed25519.seed";
    std::string legacyKey = std::string(PKGTOOL_KEY_DIR) + "/development-legacy.secret";
};

// Compresses the files part's entries as they are added, so that no file is held
// whole beside the compressed data.
class EntryCompressor {
  public:
    EntryCompressor() {
        std::memset(&zs, 0, sizeof zs);
        ready = deflateInit(&zs, Z_BEST_COMPRESSION) == Z_OK;
    }
    ~EntryCompressor() { deflateEnd(&zs); }

    bool add(const char* data, size_t size) { return run(data, size, Z_NO_FLUSH); }
    bool add(const std::string& data) { return add(data.data(), data.size()); }
    // The zlib stream, header and checksum included.
    bool finish(std::string& compressed) {
        if (!run(nullptr, 0, Z_FINISH))
            return false;
        compressed.swap(out);
        return true;
    }

  private:
    bool run(const char* data, size_t size, int flush) {
        if (!ready)
            return false;
        zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
        zs.avail_in = uInt(size);
        char chunk[16384];
        int result;
        do {
            zs.next_out = reinterpret_cast<Bytef*>(chunk);
            zs.avail_out = sizeof chunk;
            result = deflate(&zs, flush);
            if (result == Z_STREAM_ERROR)
                return false;
            out.append(chunk, sizeof chunk - zs.avail_out);
        } while (zs.avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
        return true;
    }

    z_stream zs;
    bool ready;
    std::string out;
};

class DirectoryPacker {
  public:
    DirectoryPacker(const BuildOptions& options, std::string& error)
        : options(options), error(error) {}

    bool pack(std::string& compressed) {
        return packDirectory(options.directory, "") && compressor.finish(compressed);
    }
    size_t entries() const { return count; }

  private:
    uint8_t classFor(const std::string& name) const {
        // The longest given path that is the entry or a directory above it.
        uint8_t result = 0;
        size_t best = 0;
        for (const auto& given : options.processorClasses) {
            const std::string& path = given.first;
            bool covers = name == path ||
                          (name.size() > path.size() && name.compare(0, path.size(), path) == 0 &&
                           name[path.size()] == '/');
            if (covers && path.size() >= best) {
                best = path.size();
                result = given.second;
            }
        }
        return result;
    }

    bool packDirectory(const std::string& path, const std::string& prefix) {
        DIR* dir = opendir(path.c_str());
        if (!dir) {
            error = "cannot read directory " + path + ": " + std::strerror(errno);
            return false;
        }
        std::vector<std::string> names;
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        closedir(dir);
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            if (!packEntry(path + "/" + name, prefix.empty() ? name : prefix + "/" + name))
                return false;
        }
        return true;
    }

    bool packEntry(const std::string& path, const std::string& name) {
        struct stat info;
        if (lstat(path.c_str(), &info) != 0) {
            error = "cannot examine " + path + ": " + std::strerror(errno);
            return false;
        }
        if (name.size() > 0xFFFF) {
            error = "name too long for a package: " + path;
            return false;
        }
        uint16_t mode = uint16_t(info.st_mode & 0xFFFF);
        uint8_t processorClass = classFor(name);
        ++count;
        if (S_ISDIR(info.st_mode)) {
            // Directories are listed with their type bits; the installer passes over them.
            return compressor.add(encodeFileEntry(mode, processorClass, 0, name)) &&
                   packDirectory(path, name);
        }
        if (S_ISLNK(info.st_mode)) {
            std::string target(4096, '\0');
            ssize_t size = readlink(path.c_str(), &target[0], target.size());
            if (size < 0) {
                error = "cannot read link " + path + ": " + std::strerror(errno);
                return false;
            }
            target.resize(size_t(size));
            return compressor.add(encodeFileEntry(mode, processorClass, uint32_t(size), name)) &&
                   compressor.add(target);
        }
        if (!S_ISREG(info.st_mode)) {
            error = "cannot put " + path + " in a package: not a file, directory or link";
            return false;
        }
        // The same check as the installer's, so that a package built here is one it takes.
        if (const char* refused = entryNameProblem(name)) {
            error = "the installer refuses the entry name \"" + name + "\": " + refused;
            return false;
        }
        if (uint64_t(info.st_size) > 0xFFFFFFFFu) {
            error = path + " is too large for a package (4 GiB at most)";
            return false;
        }
        return packFile(path, name, mode, processorClass, uint32_t(info.st_size));
    }

    bool packFile(const std::string& path, const std::string& name, uint16_t mode,
                  uint8_t processorClass, uint32_t size) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            error = "cannot open " + path + ": " + std::strerror(errno);
            return false;
        }
        if (!compressor.add(encodeFileEntry(mode, processorClass, size, name)))
            return false;
        char chunk[65536];
        uint64_t left = size;
        while (left > 0) {
            std::streamsize step = std::streamsize(std::min<uint64_t>(left, sizeof chunk));
            in.read(chunk, step);
            if (in.gcount() != step) {
                error = path + " changed while it was read";
                return false;
            }
            if (!compressor.add(chunk, size_t(step)))
                return false;
            left -= uint64_t(step);
        }
        if (in.peek() != std::char_traits<char>::eof()) {
            error = path + " changed while it was read";
            return false;
        }
        return true;
    }

    const BuildOptions& options;
    std::string& error;
    EntryCompressor compressor;
    size_t count = 0;
};

bool parseDigest(const std::string& text, DigestKind& digest) {
    if (text == "sha256")
        digest = DigestKind::Sha256;
    else if (text == "sha1")
        digest = DigestKind::Sha1;
    else
        return false;
    return true;
}

bool parseSignature(const std::string& text, SignatureKind& kind) {
    static const struct {
        const char* word;
        SignatureKind kind;
    } kinds[] = {{"both", SignatureKind::Both},
                 {"ed25519", SignatureKind::Ed25519},
                 {"legacy", SignatureKind::Legacy},
                 {"none", SignatureKind::None}};
    for (const auto& k : kinds) {
        if (text == k.word) {
            kind = k.kind;
            return true;
        }
    }
    return false;
}

// Reads the command line into options; returns 0 or the exit status of a failure.
int readBuildOptions(const std::vector<std::string>& args, BuildOptions& options) {
    Package& package = options.package;
    HeaderOptions header;
    ArgumentReader reader(args);
    std::string value, error;
    while (reader.next()) {
        const std::string option = reader.current();
        if (!reader.isOption()) {
            if (!options.directory.empty())
                return fail(ExitUsage, "build takes one directory; " + BuildUsage);
            options.directory = option;
            continue;
        }
        if (option == "--unrecorded") {
            options.unrecorded = true;
            continue;
        }
        if (!reader.value(value))
            return fail(ExitUsage, option + " needs a value; " + BuildUsage);
        uint64_t number;
        int status = header.take(option, value, package);
        if (status != HeaderOptions::NotHeaderOption) {
            if (status != 0)
                return status;
        } else if (option == "-o" || option == "--output") {
            options.output = value;
        } else if (option == "--depends" || option == "--conflicts" || option == "--provides") {
            Dependency entry;
            if (!parseListEntry(value, option == "--provides", entry, error))
                return fail(ExitUsage, error);
            (option == "--depends"     ? package.deps
             : option == "--conflicts" ? package.conflicts
                                       : package.provides)
                .push_back(entry);
        } else if (option == "--image") {
            options.imagePath = value;
        } else if (option == "--processor-class") {
            size_t colon = value.find(':');
            if (colon == std::string::npos || !parseUnsigned(value.substr(0, colon), 255, number) ||
                colon + 1 == value.size())
                return fail(ExitUsage, "bad processor class \"" + value + "\": use CLASS:PATH");
            std::string path = value.substr(colon + 1);
            while (path.size() > 1 && path.back() == '/')
                path.pop_back();
            options.processorClasses[path] = uint8_t(number);
        } else if (option == "--digest") {
            if (!parseDigest(value, options.digest))
                return fail(ExitUsage, "bad digest \"" + value + "\": sha256 or sha1");
        } else if (option == "--signature") {
            if (!parseSignature(value, options.signature))
                return fail(ExitUsage,
                            "bad signature \"" + value + "\": both, ed25519, legacy or none");
        } else if (option == "--ed25519-key") {
            options.ed25519Key = value;
        } else if (option == "--legacy-key") {
            options.legacyKey = value;
        } else {
            return fail(ExitUsage, "unknown option " + option + "; " + BuildUsage);
        }
    }
    const std::string usage = "build needs -o, --name and --version; " + BuildUsage;
    if (options.output.empty())
        return fail(ExitUsage, usage);
    return header.finish(package, usage);
}

}  // namespace

int buildCommand(const std::vector<std::string>& args) {
    BuildOptions options;
    if (int status = readBuildOptions(args, options))
        return status;
    const Package& package = options.package;

    Signer signer;
    std::string error;
    bool needEd25519 =
        options.signature == SignatureKind::Both || options.signature == SignatureKind::Ed25519;
    bool needLegacy =
        options.signature == SignatureKind::Both || options.signature == SignatureKind::Legacy;
    if (!loadSignerKeys(signer, needEd25519 ? options.ed25519Key : "",
                        needLegacy ? options.legacyKey : "", error))
        return fail(ExitFailure, error);

    std::string image;
    if (!options.imagePath.empty() && !readWholeFile(options.imagePath, image, error))
        return fail(ExitFailure, error);

    // The digest selector comes first so that the digest switch covers every part after it.
    PackageWriter writer(options.unrecorded ? UnrecordedMagic : PackageMagic);
    if (options.digest == DigestKind::Sha256)
        writer.part(PartDigestSelector, DigestSelectorData);
    size_t start = writer.body().size();
    addPackageParts(writer, package, {}, image, false);
    image.clear();
    if (!options.directory.empty()) {
        struct stat info;
        if (stat(options.directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
            return fail(ExitFailure, options.directory + " is not a directory");
        DirectoryPacker packer(options, error);
        std::string compressed;
        if (!packer.pack(compressed))
            return fail(ExitFailure, error.empty() ? "compression failed" : error);
        if (compressed.size() > 0xFFFFFFF0u - writer.body().size())
            return fail(ExitFailure, "the package would pass 4 GiB");
        writer.part(PartFiles, compressed);
    }
    if (!appendSignature(writer, start, options.digest, options.signature, signer))
        return fail(ExitFailure, "signing failed");
    if (!writeWholeFile(options.output, writer.bytes(), error))
        return fail(ExitFailure, error);
    return 0;
}
