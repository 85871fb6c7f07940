// Paths under /flash resolved without leaving it.
#include "stage/flash_path.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>

#include "platform/device_paths.h"

namespace {

constexpr int MaxLinks = 40;
// Bytes of folder names kept for the folders that a walk passes on its way, and the number
// of folders kept in all: enough for every folder of a package of two thousand files to be
// looked at once for all the passes of its staging. Each kept folder costs about 400 bytes,
// which a run over tens of thousands of files must not see grow.
constexpr size_t KeptFolderBudget = 256 * 1024;
constexpr size_t MaxKeptFolders = 2304;
constexpr size_t FlashLength = sizeof(device::Flash) - 1;

// text is root itself or lies below it; leading and doubled slashes do not count.
bool isUnder(std::string_view text, std::string_view root) {
    size_t start = text.find_first_not_of('/');
    if (start == std::string_view::npos || start == 0)
        return false;
    std::string_view rest = text.substr(start);
    std::string_view name = root.substr(1);
    return rest.compare(0, name.size(), name) == 0 &&
           (rest.size() == name.size() || rest[name.size()] == '/');
}

// The next name of text from pos on, slashes skipped; false at the end.
bool nextName(const std::string& text, size_t& pos, std::string_view& name) {
    size_t start = text.find_first_not_of('/', pos);
    if (start == std::string::npos)
        return false;
    size_t end = text.find('/', start);
    if (end == std::string::npos)
        end = text.size();
    name = std::string_view(text).substr(start, end - start);
    pos = end;
    return true;
}

// text has a "." or ".." step.
bool hasDotStep(std::string_view text) {
    size_t pos = 0;
    std::string rest(text);
    std::string_view name;
    while (nextName(rest, pos, name))
        if (name == "." || name == "..")
            return true;
    return false;
}

// text with each run of slashes made one.
std::string collapsed(std::string_view text) {
    std::string single;
    for (char c : text)
        if (c != '/' || single.empty() || single.back() != '/')
            single += c;
    return single;
}

}  // namespace

int errorNumberOf(PathStatus status) {
    switch (status) {
        case PathStatus::Ok:
            return 0;
        case PathStatus::Outside:
            return EXDEV;
        case PathStatus::NotFolder:
            return ENOTDIR;
        case PathStatus::TooLong:
            return ENAMETOOLONG;
        case PathStatus::Failed:
            break;
    }
    return errno;
}

// A folder whose real path is the one written (less its last "/") keeps no copy of it.
FlashPaths::Folders::iterator FlashPaths::keep(std::string_view folder, std::string real,
                                               size_t existing) {
    // Paths come mostly in order, folder by folder: a bounded number of folders is enough,
    // and memory stays flat however many files there are.
    if (folders.size() >= MaxKeptFolders)
        forget();
    Folder kept;
    kept.existing = existing;
    kept.missing = existing < real.size();
    if (folder.substr(0, folder.size() - 1) != real)
        kept.real = std::move(real);
    return folders.emplace(folder, std::move(kept)).first;
}

std::string FlashPaths::realOf(std::string_view folder, const Folder& kept) {
    return kept.real.empty() ? std::string(folder.substr(0, folder.size() - 1)) : kept.real;
}

bool isUnderFlash(const std::string& path) {
    return path.compare(0, FlashLength, device::Flash) == 0 &&
           (path.size() == FlashLength || path[FlashLength] == '/');
}

PathStatus FlashPaths::resolve(const std::string& path, std::string& real, size_t* existing,
                               bool make) {
    if (path.size() > PATH_MAX)
        return PathStatus::TooLong;
    if (!isUnderFlash(path))
        return PathStatus::Outside;
    size_t end = path.find_last_not_of('/');
    size_t nameStart = path.rfind('/', end) + 1;
    std::string_view name = std::string_view(path).substr(nameStart, end + 1 - nameStart);
    if (nameStart == 1) {  // "/flash" itself
        real = device::Flash;
        if (existing)
            *existing = real.size();
        return PathStatus::Ok;
    }
    if (name == "." || name == "..")
        return PathStatus::Outside;
    if (name.size() > NAME_MAX)
        return PathStatus::TooLong;

    // Doubled slashes name the same folders: they are kept once, under the single form.
    std::string_view folder = std::string_view(path).substr(0, nameStart);
    std::string single;
    if (folder.find("//") != std::string_view::npos) {
        single = collapsed(folder);
        folder = single;
    }
    auto cached = folders.find(folder);
    // Folders found missing are made when asked for.
    if (cached != folders.end() && make && cached->second.missing) {
        folders.erase(cached);
        cached = folders.end();
    }
    if (cached == folders.end()) {
        // The walk starts from the nearest folder above whose resolving is known whole.
        Folder found;
        found.real = device::Flash;
        size_t from = FlashLength;
        bool made = false;
        for (size_t slash = folder.rfind('/', folder.size() - 2);
             slash != std::string_view::npos && slash >= FlashLength;
             slash = slash == 0 ? std::string_view::npos : folder.rfind('/', slash - 1)) {
            auto above = folders.find(folder.substr(0, slash + 1));
            if (above == folders.end())
                continue;
            // Below a missing folder everything is missing: no need to look. Folders to be
            // made are walked from one that exists.
            std::string_view below = folder.substr(slash, folder.size() - 1 - slash);
            if (above->second.missing && (make || hasDotStep(below)))
                continue;
            found.real = realOf(above->first, above->second);
            from = slash;
            made = above->second.made;
            if (above->second.missing) {
                found.existing = above->second.existing;
                found.real += below;
                from = folder.size();
            }
            break;
        }
        if (from < folder.size()) {
            PathStatus status = walk(folder, from, found.real, found.existing, make, made);
            if (status != PathStatus::Ok)
                return status;
        }
        cached = keep(folder, std::move(found.real), found.existing);
        cached->second.made = made;
    }
    size_t existingLength = cached->second.existing;
    real = realOf(cached->first, cached->second);
    real += '/';
    real += name;
    if (existing)
        *existing = existingLength;
    return PathStatus::Ok;
}

// Walks the folder names one at a time over a single work string: a link's text takes the
// place of the link's name in it, so memory stays that of the longest path, however deep.
// Folders passed on the way are kept for later paths while they are written as in folder
// (no link followed yet) and within a budget, so that a deep tree is not held once per
// level of every path.
PathStatus FlashPaths::walk(std::string_view folder, size_t from, std::string& real,
                            size_t& existing, bool make, bool& made) {
    std::string rest(folder.substr(from));
    size_t pos = 0;
    bool missing = false;
    int links = 0;
    std::string_view name;
    while (nextName(rest, pos, name)) {
        if (name == ".")
            continue;
        if (name == "..") {
            made = false;
            if (real.size() == FlashLength)
                return PathStatus::Outside;
            real.resize(real.rfind('/'));
            if (missing && real.size() <= existing)
                missing = false;
            continue;
        }
        if (name.size() > NAME_MAX || real.size() + 1 + name.size() > PATH_MAX)
            return PathStatus::TooLong;
        size_t parentLength = real.size();
        real += '/';
        real += name;
        if (missing)
            continue;
        size_t written = from + pos + 1;
        bool keepIt = links == 0 && written < folder.size() && keptBytes < KeptFolderBudget;
        struct stat st;
        bool madeHere = false;
        // A folder made a moment ago held nothing: its child is made without a look first.
        if (make && made && mkdir(real.c_str(), 0777) == 0) {
            madeHere = true;
            st.st_mode = S_IFDIR;
        } else if (make && made && errno != EEXIST) {
            return PathStatus::Failed;
        } else if (lstat(real.c_str(), &st) != 0) {
            if (errno != ENOENT)
                return PathStatus::Failed;
            if (!make) {
                missing = true;
                existing = parentLength;
                if (keepIt) {
                    keptBytes += written;
                    keep(folder.substr(0, written), real, parentLength);
                }
                continue;
            }
            if (mkdir(real.c_str(), 0777) == 0) {
                madeHere = true;
                st.st_mode = S_IFDIR;
            } else if (errno != EEXIST || lstat(real.c_str(), &st) != 0) {
                return PathStatus::Failed;
            }
        }
        made = madeHere;
        if (S_ISDIR(st.st_mode)) {
            if (keepIt) {
                keptBytes += written;
                keep(folder.substr(0, written), real, real.size())->second.made = made;
            }
            continue;
        }
        if (!S_ISLNK(st.st_mode))
            return PathStatus::NotFolder;
        if (++links > MaxLinks)
            return PathStatus::TooLong;
        char target[PATH_MAX + 1];
        ssize_t length = readlink(real.c_str(), target, PATH_MAX);
        if (length < 0)
            return PathStatus::Failed;
        std::string_view text(target, size_t(length));
        real.resize(parentLength);
        if (!text.empty() && text[0] == '/') {
            if (!isUnder(text, device::Flash))
                return PathStatus::Outside;
            real = device::Flash;
            text.remove_prefix(text.find(device::Flash + 1) + FlashLength - 1);
        }
        if (text.size() + rest.size() - pos > 2 * PATH_MAX)
            return PathStatus::TooLong;
        rest = std::string(text) + "/" + rest.substr(pos);
        pos = 0;
    }
    if (!missing)
        existing = real.size();
    return PathStatus::Ok;
}

PathStatus FlashPaths::follow(const std::string& path, std::string& real) {
    PathStatus status = resolve(path, real);
    for (int links = 0; status == PathStatus::Ok; ++links) {
        struct stat st;
        if (lstat(real.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return PathStatus::Ok;
        if (links == MaxLinks)
            return PathStatus::TooLong;
        char target[PATH_MAX + 1];
        ssize_t length = readlink(real.c_str(), target, PATH_MAX);
        if (length <= 0)
            return PathStatus::Failed;
        std::string text(target, size_t(length));
        std::string next = text[0] == '/' ? text : real.substr(0, real.rfind('/') + 1) + text;
        if (!isUnder(next, device::Flash))
            return PathStatus::Outside;
        // A link text of "//flash/x" or "/flash//x" is taken as "/flash/x".
        next = device::Flash + next.substr(next.find(device::Flash + 1) + FlashLength - 1);
        status = resolve(next, real);
    }
    return status;
}

bool FlashPaths::isInstallerPath(const std::string& real) {
    if (!installerPathsKnown) {
        installerPathsKnown = true;
        std::string own;
        if (resolve(std::string(device::Database) + "x", own) == PathStatus::Ok)
            databaseFolder = own.substr(0, own.size() - 2);
        for (const char* file :
             {device::BootImage, device::PostLog, device::PackagesChanged, device::Upgraded})
            if (resolve(file, own) == PathStatus::Ok)
                installerFiles.push_back(own);
    }
    if (!databaseFolder.empty() && real.compare(0, databaseFolder.size(), databaseFolder) == 0 &&
        (real.size() == databaseFolder.size() || real[databaseFolder.size()] == '/'))
        return true;
    return std::find(installerFiles.begin(), installerFiles.end(), real) != installerFiles.end();
}
