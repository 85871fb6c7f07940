// Staged file operations: the manifest map, its staging operations and its text form.
#include "stage/manifest.h"

#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "stage/file_util.h"

namespace {

const char RamDirectory[] = "/ram";
const char TmpDirectory[] = "/tmp";

bool pathExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// The file system of directory has sizeHint plus a tenth to spare. The product is taken
// in 64 bits: in 32 bits it wraps on any file system with more than 4 GiB free.
bool hasRoomFor(const struct statfs& fs, uint32_t sizeHint) {
    uint64_t needed = uint64_t(sizeHint) + sizeHint / 10;
    uint64_t free = uint64_t(fs.f_bsize) * uint64_t(fs.f_bfree);
    return needed < free;
}

// Where a temporary file for target is made: the nearest ancestor of target that can be
// examined, when its file system has room; else /ram (or /tmp when no size is given and
// /ram is missing).
std::string temporaryDirectoryFor(const std::string& target, uint32_t sizeHint) {
    if (sizeHint == 0)
        return pathExists(RamDirectory) ? RamDirectory : TmpDirectory;
    std::string candidate = parentDirectory(target);
    for (;;) {
        struct statfs fs;
        if (statfs(candidate.c_str(), &fs) == 0)
            return hasRoomFor(fs, sizeHint) ? candidate : RamDirectory;
        if (candidate == "/" || candidate == ".")
            return RamDirectory;
        candidate = parentDirectory(candidate);
    }
}

std::string tagOf(EntryKind kind) {
    switch (kind) {
        case EntryKind::Unlink:
            return "U";
        case EntryKind::Link:
            return "L";
        case EntryKind::Move:
        case EntryKind::NewFile:
            break;
    }
    return "M";
}

// Splits a line at blanks into at most three fields; the third keeps the rest of the line.
std::vector<std::string> splitFields(const std::string& line) {
    std::vector<std::string> fields;
    size_t position = 0;
    while (position < line.size() && fields.size() < 3) {
        size_t start = line.find_first_not_of(' ', position);
        if (start == std::string::npos)
            break;
        size_t end = fields.size() == 2 ? line.size() : line.find(' ', start);
        if (end == std::string::npos)
            end = line.size();
        fields.push_back(line.substr(start, end - start));
        position = end;
    }
    return fields;
}

}  // namespace

std::string parentDirectory(const std::string& path) {
    size_t end = path.find_last_not_of('/');
    if (end == std::string::npos)
        return path.empty() ? "." : "/";
    size_t slash = path.rfind('/', end);
    if (slash == std::string::npos)
        return ".";
    size_t parentEnd = path.find_last_not_of('/', slash);
    if (parentEnd == std::string::npos)
        return "/";
    return path.substr(0, parentEnd + 1);
}

void Manifest::setEntry(const std::string& path, EntryKind kind, const std::string& argument) {
    auto it = entries.find(path);
    if (it == entries.end()) {
        entries[path] = ManifestEntry{path, kind, argument};
        return;
    }
    if (it->second.kind == EntryKind::NewFile)
        unlink(it->second.argument.c_str());
    it->second.kind = kind;
    it->second.argument = argument;
}

void Manifest::stageMove(const std::string& source, const std::string& target) {
    setEntry(target, EntryKind::Move, source);
}

void Manifest::stageLink(const std::string& linkTarget, const std::string& linkPath) {
    setEntry(linkPath, EntryKind::Link, linkTarget);
}

void Manifest::stageRemove(const std::string& path) {
    if (pathExists(path)) {
        setEntry(path, EntryKind::Unlink, std::string());
        return;
    }
    auto it = entries.find(path);
    if (it == entries.end())
        return;
    if (it->second.kind == EntryKind::NewFile)
        unlink(it->second.argument.c_str());
    entries.erase(it);
}

std::ofstream Manifest::createFile(const std::string& target, uint32_t sizeHint, uint32_t mode) {
    std::string name = temporaryDirectoryFor(target, sizeHint) + "/tmpXXXXXX";
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back('\0');
    int fd = mkstemp(buffer.data());
    if (fd < 0) {
        // Nothing is staged for a file that does not exist; the caller sees the stream
        // unopened and errno still tells why.
        int error = errno;
        std::ofstream unopened;
        errno = error;
        return unopened;
    }
    close(fd);
    name = buffer.data();
    if (mode != 0)
        chmod(name.c_str(), mode & 07777);
    setEntry(target, EntryKind::NewFile, name);
    return std::ofstream(name, std::ios::binary | std::ios::trunc);
}

bool Manifest::keepDirectory(const std::string& path) {
    auto it = entries.find(path);
    if (it != entries.end()) {
        if (it->second.kind != EntryKind::Unlink)
            return false;
        entries.erase(it);
    }
    struct stat st;
    if (stat(path.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    // A directory path with a trailing slash whose place a plain file takes fails with
    // ENOTDIR: something other than a directory stands there.
    return errno != ENOTDIR;
}

bool Manifest::save(const std::string& file) const {
    std::string text;
    for (const auto& [path, entry] : entries) {
        text += tagOf(entry.kind) + " " + path;
        if (entry.kind != EntryKind::Unlink)
            text += " " + entry.argument;
        text += '\n';
    }
    return replaceFileContents(file, text);
}

bool Manifest::load(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in.is_open())
        return false;
    for (;;) {
        if (in.fail())
            return !entries.empty();
        std::string line;
        std::getline(in, line);
        if (line.empty())
            return true;
        std::vector<std::string> fields = splitFields(line);
        if (fields.size() < 2)
            return false;
        if (fields[0] == "U") {
            setEntry(fields[1], EntryKind::Unlink, std::string());
        } else if (fields[0] == "L" || fields[0] == "M") {
            if (fields.size() < 3)
                return false;
            setEntry(fields[1], fields[0] == "L" ? EntryKind::Link : EntryKind::Move, fields[2]);
        }
    }
}

void Manifest::discard() {
    for (const auto& [path, entry] : entries) {
        if (entry.kind == EntryKind::NewFile)
            unlink(entry.argument.c_str());
    }
    entries.clear();
}

const ManifestEntry* Manifest::find(const std::string& path) const {
    auto it = entries.find(path);
    return it == entries.end() ? nullptr : &it->second;
}
