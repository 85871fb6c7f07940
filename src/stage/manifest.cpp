// Staged file operations: the manifest map, its staging operations and its text form.
#include "stage/manifest.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/device_paths.h"
#include "platform/file_checks.h"
#include "stage/file_util.h"
#include "stage/signal_guard.h"
#include "stage/temporaries.h"

namespace {

// A text-form line longer than this was never written by the installer (two paths of at
// most PATH_MAX each); it is refused before it is held whole.
constexpr size_t MaxLine = 2 * PATH_MAX;
constexpr size_t ShownLine = 200;

// The buffer of a staged file's stream: the unpacker writes blocks of this size.
constexpr size_t FileBuffer = 16384;

const char* scratchDirectory() {
    return exists(device::Ram) ? device::Ram : device::Tmp;
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
        fields.push_back(unescapeField(line.substr(start, end - start)));
        position = end;
    }
    return fields;
}

// path has a "." or ".." step (empty steps, from doubled slashes, are the installer's own).
bool hasDotStep(const std::string& path) {
    for (size_t start = 0; start <= path.size();) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos)
            slash = path.size();
        size_t length = slash - start;
        if ((length == 1 || length == 2) && path.compare(start, length, "..", length) == 0)
            return true;
        start = slash + 1;
    }
    return false;
}

bool isUnder(const std::string& path, const char* folder) {
    size_t length = std::char_traits<char>::length(folder);
    return path.compare(0, length, folder) == 0 &&
           (path.size() > length && (folder[length - 1] == '/' || path[length] == '/'));
}

// A path the installer stages: below /flash, with no "." or ".." step.
bool isStagedPath(const std::string& path) {
    return isUnder(path, device::Flash) && !hasDotStep(path);
}

// Where the installer takes the files it moves into place from.
bool isMoveSource(const std::string& path) {
    return !hasDotStep(path) && (isUnder(path, device::Flash) || isUnder(path, device::Ram) ||
                                 isUnder(path, device::Tmp) || isUnder(path, device::DownloadDir));
}

// Reads one line of at most MaxLine bytes; false at the end of the file. A longer line
// sets tooLong and is passed over without being held.
bool readLine(std::istream& in, std::string& line, bool& tooLong) {
    line.clear();
    tooLong = false;
    std::streambuf* buffer = in.rdbuf();
    int c = buffer->sbumpc();
    if (c == EOF)
        return false;
    for (; c != EOF && c != '\n'; c = buffer->sbumpc()) {
        if (line.size() < MaxLine)
            line += char(c);
        else
            tooLong = true;
    }
    return true;
}

LoadResult refused(size_t number, const std::string& line) {
    LoadResult result;
    result.status = LoadResult::Refused;
    result.line = number;
    result.text = line.substr(0, ShownLine);
    return result;
}

// The temporary files of a manifest, deleted by a termination signal during staging.
// Only reads the map and unlinks: the map is never mid-change then (staging::Busy).
const char* alsoDeleteOnSignal = nullptr;

// The whole path of a NewFile's temporary file into buffer, without allocating (for the
// signal handler); false when it does not fit.
bool temporaryPath(const std::string& path, const ManifestEntry& entry, char* buffer, size_t size) {
    const std::string& name = entry.argument;
    if (name.find('/') != std::string::npos) {
        if (name.size() + 1 > size)
            return false;
        std::memcpy(buffer, name.c_str(), name.size() + 1);
        return true;
    }
    // The folder: the path less its last name and as many folders more as the count says.
    size_t folder = path.find_last_of('/');
    for (char up = '0'; up < name[0] && folder != std::string::npos && folder > 0; ++up)
        folder = path.find_last_of('/', folder - 1);
    size_t prefix = std::char_traits<char>::length(device::TemporaryPrefix);
    if (folder == std::string::npos || folder + 1 + prefix + name.size() > size)
        return false;
    std::memcpy(buffer, path.data(), folder);
    buffer[folder] = '/';
    std::memcpy(buffer + folder + 1, device::TemporaryPrefix, prefix);
    std::memcpy(buffer + folder + 1 + prefix, name.data() + 1, name.size() - 1);
    buffer[folder + prefix + name.size()] = '\0';
    return true;
}

void deleteTemporaries(void* context) {
    static char buffer[2 * PATH_MAX + 64];
    const auto* entries = static_cast<const std::map<std::string, ManifestEntry>*>(context);
    for (const auto& [path, entry] : *entries)
        if (entry.kind == EntryKind::NewFile && temporaryPath(path, entry, buffer, sizeof buffer))
            unlink(buffer);
    if (alsoDeleteOnSignal)
        unlink(alsoDeleteOnSignal);
    deleteOpenAtomicFiles();
    dropStagingMarker();
}

}  // namespace

// The file system of folder has sizeHint plus a tenth to spare. The product is taken in 64
// bits: in 32 bits it wraps on any file system with more than 4 GiB free. The free room is
// asked once per folder and then counted down by what this manifest places there.
bool Manifest::Room::takes(const std::string& place, uint32_t sizeHint) {
    if (place != folder) {
        struct statfs fs;
        if (statfs(place.c_str(), &fs) != 0)
            return false;
        folder = place;
        free = uint64_t(fs.f_bsize) * uint64_t(fs.f_bfree);
        block = fs.f_bsize == 0 ? 1 : fs.f_bsize;
    }
    uint64_t needed = uint64_t(sizeHint) + sizeHint / 10;
    if (needed >= free)
        return false;
    free -= (uint64_t(sizeHint) + block - 1) / block * block;
    return true;
}

std::string escapeField(const std::string& text) {
    if (text.find_first_of(" \\") == std::string::npos)
        return text;
    std::string escaped;
    for (char c : text) {
        if (c == ' ')
            escaped += "\\040";
        else if (c == '\\')
            escaped += "\\134";
        else
            escaped += c;
    }
    return escaped;
}

std::string unescapeField(const std::string& text) {
    if (text.find('\\') == std::string::npos)
        return text;
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 4, "\\040") == 0) {
            plain += ' ';
            i += 3;
        } else if (text.compare(i, 4, "\\134") == 0) {
            plain += '\\';
            i += 3;
        } else {
            plain += text[i];
        }
    }
    return plain;
}

// A temporary file in a folder of its target's written path (the nearest existing one) is
// kept as the number of folders up from the target and its six letters: short enough to
// need no memory of its own.
std::string compactTemporary(const std::string& target, const std::string& folder,
                             const std::string& name) {
    std::string place = parentDirectory(target);
    for (char up = '0'; up <= '9'; ++up, place = parentDirectory(place)) {
        if (place == folder)
            return up + name.substr(name.size() - 6);
        if (place.size() <= folder.size())
            break;
    }
    return name;
}

std::string ManifestEntry::fullArgument(const std::string& path) const {
    if (kind != EntryKind::NewFile || argument.find('/') != std::string::npos)
        return argument;
    std::string folder = parentDirectory(path);
    for (char up = '0'; up < argument[0]; ++up)
        folder = parentDirectory(folder);
    return folder + "/" + device::TemporaryPrefix + argument.substr(1);
}

ManifestEntry& Manifest::setEntry(const std::string& path, EntryKind kind,
                                  const std::string& argument) {
    staging::Busy change;
    auto it = entries.find(path);
    if (it == entries.end())
        return entries.emplace(path, ManifestEntry{kind, false, argument}).first->second;
    if (it->second.kind == EntryKind::NewFile)
        unlink(it->second.fullArgument(path).c_str());
    it->second.kind = kind;
    it->second.argument = argument;
    it->second.besideOldFile = false;
    return it->second;
}

void Manifest::stageMove(const std::string& source, const std::string& target) {
    setEntry(target, EntryKind::Move, source);
}

void Manifest::stageLink(const std::string& linkTarget, const std::string& linkPath) {
    setEntry(linkPath, EntryKind::Link, linkTarget);
}

void Manifest::stageRemove(const std::string& path) {
    std::string real;
    if (paths.resolve(path, real) == PathStatus::Ok && exists(real)) {
        setEntry(path, EntryKind::Unlink, std::string());
        return;
    }
    staging::Busy change;
    auto it = entries.find(path);
    if (it == entries.end())
        return;
    if (it->second.kind == EntryKind::NewFile)
        unlink(it->second.fullArgument(path).c_str());
    entries.erase(it);
}

// The temporary file lies where the commit can rename it: in the nearest existing folder
// of the target when its file system has room, so that the journal can always finish the
// commit from flash. Only what does not fit goes to the RAM disk.
FdOutStream Manifest::createFile(const std::string& target, uint32_t sizeHint, uint32_t mode) {
    std::string real;
    size_t existing = 0;
    PathStatus status = paths.resolve(target, real, &existing);
    if (status != PathStatus::Ok) {
        errno = errorNumberOf(status);
        return FdOutStream();
    }
    // A rename can't replace a folder: the commit would fail at every try. (In a folder
    // still to be made there is nothing yet.)
    std::string folder = real.substr(0, existing);
    struct stat old;
    bool oldFile = existing == real.rfind('/') && lstat(real.c_str(), &old) == 0;
    if (oldFile && S_ISDIR(old.st_mode)) {
        errno = EISDIR;
        return FdOutStream();
    }
    // Made beside the file it replaces, it is renamed over it on one file system, which
    // takes no room: the space check need not look at either again.
    bool besideOldFile = oldFile;
    if (!room.takes(folder, sizeHint)) {
        folder = scratchDirectory();
        besideOldFile = false;
    } else if (!markStaging()) {
        return FdOutStream();
    }
    std::string name;
    int fd;
    {
        staging::Busy change;
        // Without a mode, the file is for the owner alone.
        fd = createTemporary(folder, mode != 0 ? mode : 0600, name);
        if (fd < 0)
            return FdOutStream();  // errno still tells why
        setEntry(target, EntryKind::NewFile, compactTemporary(target, folder, name)).besideOldFile =
            besideOldFile;
        dropRemovalReplacedBy(target);
    }
    return FdOutStream(fd, FileBuffer);
}

bool Manifest::keepDirectory(const std::string& path) {
    auto it = entries.find(path);
    if (it != entries.end()) {
        if (it->second.kind != EntryKind::Unlink)
            return false;
        staging::Busy change;
        entries.erase(it);
    }
    std::string real;
    if (paths.resolve(path, real) != PathStatus::Ok)
        return false;
    struct stat st;
    if (lstat(real.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    return errno == ENOENT;
}

bool Manifest::save(const std::string& file) const {
    AtomicFile out(file);
    std::string line;
    for (const auto& [path, entry] : entries) {
        line = tagOf(entry.kind) + " " + escapeField(path);
        if (entry.kind != EntryKind::Unlink)
            line += " " + escapeField(entry.fullArgument(path));
        line += '\n';
        if (!out.write(line))
            return false;
    }
    return out.commit();
}

LoadResult Manifest::load(const std::string& file) {
    // Only a regular file is read: the stream library throws when it reads a directory,
    // and a FIFO would block the run.
    if (!isRegularFile(file, Follow::Yes))
        return LoadResult();
    std::ifstream in(file, std::ios::binary);
    if (!in.is_open())
        return LoadResult();
    std::map<std::string, ManifestEntry> read;
    std::set<std::string> done;
    std::string line;
    bool tooLong = false;
    for (size_t number = 1; readLine(in, line, tooLong); ++number) {
        if (tooLong)
            return refused(number, line);
        if (line.empty())
            break;
        std::vector<std::string> fields = splitFields(line);
        if (fields.size() < 2)
            return refused(number, line);
        const std::string& tag = fields[0];
        bool known = tag == "U" || tag == "L" || tag == "M" || tag == "D";
        if (known && !isStagedPath(fields[1]))
            return refused(number, line);
        if (tag == "U") {
            read[fields[1]] = ManifestEntry{EntryKind::Unlink, false, std::string()};
        } else if (tag == "L" || tag == "M") {
            if (fields.size() < 3 || (tag == "M" && !isMoveSource(fields[2])))
                return refused(number, line);
            read[fields[1]] =
                ManifestEntry{tag == "L" ? EntryKind::Link : EntryKind::Move, false, fields[2]};
        } else if (tag == "D") {
            done.insert(fields[1]);
        }
    }
    if (in.bad())
        return refused(0, "(read error)");
    staging::Busy change;
    entries.swap(read);
    copied.swap(done);
    LoadResult result;
    result.status = LoadResult::Loaded;
    return result;
}

void Manifest::discard() {
    staging::Busy change;
    for (const auto& [path, entry] : entries) {
        if (entry.kind == EntryKind::NewFile)
            unlink(entry.fullArgument(path).c_str());
    }
    entries.clear();
}

void Manifest::guardTemporaries(const char* alsoDelete) const {
    alsoDeleteOnSignal = alsoDelete;
    staging::guard(deleteTemporaries, const_cast<std::map<std::string, ManifestEntry>*>(&entries));
}

// The removal of an old package's file is staged under its files-list path, "/flash/"
// and "/bin/x"; the new file's rename replaces it in one step, so the removal says
// nothing more and only costs memory.
void Manifest::dropRemovalReplacedBy(const std::string& target) {
    size_t flash = sizeof device::Flash - 1;
    if (target.size() <= flash + 1 || target[flash + 1] == '/')
        return;
    std::string removal = target;
    removal.insert(flash, "/");
    auto it = entries.find(removal);
    if (it != entries.end() && it->second.kind == EntryKind::Unlink)
        entries.erase(it);
}

bool Manifest::clashesWithStagedFile(const std::string& path) const {
    auto isFile = [](const ManifestEntry& entry) {
        return entry.kind == EntryKind::Move || entry.kind == EntryKind::NewFile;
    };
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        auto folder = entries.find(path.substr(0, slash));
        if (folder != entries.end() && isFile(folder->second))
            return true;
    }
    std::string asFolder = path + "/";
    for (auto it = entries.lower_bound(asFolder);
         it != entries.end() && it->first.compare(0, asFolder.size(), asFolder) == 0; ++it)
        if (isFile(it->second))
            return true;
    return false;
}

bool createMarker(Manifest& manifest, const std::string& path) {
    FdOutStream marker = manifest.createFile(path, 1, 0);
    if (!marker.is_open())
        return false;
    marker.close();
    return !marker.fail();
}

const ManifestEntry* Manifest::find(const std::string& path) const {
    auto it = entries.find(path);
    return it == entries.end() ? nullptr : &it->second;
}
