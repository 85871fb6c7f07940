// Committing the manifest: removals and links first, then the moves that put files in
// place; copies across file systems; the spinner of "--commit".
#include "stage/commit.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <set>

#include "stage/file_util.h"
#include "stage/manifest.h"

namespace {

const size_t CopyChunk = 16384;
const uint32_t SpinnerPeriod = 20;
const char SpinnerCharacters[] = "|/-\\";

// The spinner of the process: lastTick 0 means it has not turned yet.
uint32_t spinnerLastTick = 0;
unsigned spinnerIndex = 0;

bool isDirectory(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Deletes the plain files of a directory (not those whose names begin with ".") and then
// the directory itself when that left it empty.
void removeDirectory(const std::string& path) {
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr)
        return;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '\0' && entry->d_name[0] != '.')
            unlink((path + "/" + entry->d_name).c_str());
    }
    closedir(dir);
    rmdir(path.c_str());
}

void removePath(const std::string& path) {
    if (unlink(path.c_str()) != 0 && errno == EISDIR)
        removeDirectory(path);
}

// The link is made under a name of its own and renamed onto path, which replaces
// whatever stood there in one step: path is never missing, even if the commit stops here.
void makeLink(const ManifestEntry& entry) {
    makeDirectories(parentDirectory(entry.path));
    std::string partial = partialPathFor(entry.path);
    unlink(partial.c_str());
    if (symlink(entry.argument.c_str(), partial.c_str()) != 0) {
        perror("symlink");
        return;
    }
    if (rename(partial.c_str(), entry.path.c_str()) != 0) {
        int error = errno;
        unlink(partial.c_str());
        errno = error;
        perror("symlink");
    }
}

void moveIntoPlace(const ManifestEntry& entry, bool showSpinner) {
    makeDirectories(parentDirectory(entry.path));
    if (rename(entry.argument.c_str(), entry.path.c_str()) == 0)
        return;
    if (errno == EXDEV)
        copyFile(entry.argument, entry.path, showSpinner);
    else
        perror("rename");
}

// The mode a copy of source onto target gets: that of an existing regular target, else
// the permission bits of source less the umask.
mode_t copyModeFor(const struct stat& source, const std::string& target, struct stat& old,
                   bool& targetExists) {
    targetExists = lstat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    if (targetExists)
        return old.st_mode & 07777;
    return source.st_mode & 07777 & ~currentUmask();
}

bool copyContents(int from, int to, bool showSpinner) {
    char buffer[CopyChunk];
    for (;;) {
        ssize_t got = read(from, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        ssize_t put;
        do {
            put = write(to, buffer, size_t(got));
        } while (put < 0 && errno == EINTR);
        if (put != got)
            return false;
        if (showSpinner)
            turnSpinner();
    }
}

}  // namespace

std::string partialPathFor(const std::string& target) {
    return parentDirectory(target) + "/." + target.substr(target.rfind('/') + 1) + ".partial";
}

std::string collapsedPath(const std::string& path) {
    std::string result;
    for (char c : path) {
        if (c == '/' && !result.empty() && result.back() == '/')
            continue;
        result += c;
    }
    if (result.size() > 1 && result.back() == '/')
        result.pop_back();
    return result;
}

std::set<std::string> pathsReplacedByMoves(const Manifest& manifest) {
    std::set<std::string> replaced;
    for (const auto& [path, entry] : manifest.all()) {
        if (entry.kind == EntryKind::Move || entry.kind == EntryKind::NewFile)
            replaced.insert(collapsedPath(path));
    }
    return replaced;
}

bool removalLeftToMove(const std::set<std::string>& replaced, const std::string& path) {
    // A directory can't be replaced by a rename of a file: it is removed first.
    return replaced.count(collapsedPath(path)) != 0 && !isDirectory(path);
}

uint32_t tickCount() {
    long ticks = syscall(SYS_times, nullptr);
    if (ticks == -1)
        return uint32_t(-errno) + 30000u;
    return uint32_t(ticks) + 30000u;
}

void turnSpinner() {
    if (spinnerLastTick == 0) {
        spinnerLastTick = tickCount();
        std::cout << SpinnerCharacters[spinnerIndex++] << std::flush;
        return;
    }
    if (uint32_t(tickCount() - spinnerLastTick) <= SpinnerPeriod)
        return;
    // Advancing by one period, not to now, makes the spinner catch up after a pause.
    spinnerLastTick += SpinnerPeriod;
    std::cout << '\b' << SpinnerCharacters[spinnerIndex++] << std::flush;
    if (spinnerIndex == 4)
        spinnerIndex = 0;
}

void makeDirectories(const std::string& path) {
    if (mkdir(path.c_str(), 0777) == 0 || errno == EEXIST)
        return;
    std::string parent = parentDirectory(path);
    // "/" and "." are their own parents: a failure there has nowhere further to go.
    if (parent == path)
        return;
    makeDirectories(parent);
    mkdir(path.c_str(), 0777);
}

bool copyFile(const std::string& source, const std::string& target, bool showSpinner) {
    struct stat st;
    if (stat(source.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    struct stat old;
    bool targetExists = false;
    mode_t mode = copyModeFor(st, target, old, targetExists);
    // The copy is written under a name that only this target uses, so that a commit
    // run again after an interruption overwrites what the first one left half-written
    // rather than leaving it behind.
    std::string temporary = partialPathFor(target);
    unlink(temporary.c_str());
    int to = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    int from = open(source.c_str(), O_RDONLY);
    if (to < 0 || from < 0) {
        if (to >= 0) {
            close(to);
            unlink(temporary.c_str());
        }
        if (from >= 0)
            close(from);
        return false;
    }
    // The old target stays whole until the complete copy is flushed and renamed onto it.
    bool ok = copyContents(from, to, showSpinner);
    close(from);
    if (targetExists) {
        // Keeping the owner of the old target is best effort; its mode is what matters.
        [[maybe_unused]] int ignored = fchown(to, old.st_uid, old.st_gid);
    }
    ok = ok && fchmod(to, mode) == 0 && fsync(to) == 0;
    ok = close(to) == 0 && ok;
    if (ok && rename(temporary.c_str(), target.c_str()) == 0)
        return true;
    unlink(temporary.c_str());
    return false;
}

// The order of the steps keeps the installed tree whole:
//  1. Every removal and link happens before the first move, so an interruption in the
//     first pass leaves every new file unplaced.
//  2. A removal of a path that a move of this manifest replaces is left to that move's
//     rename, which replaces the file atomically; the file is never missing, and a
//     manifest committed twice does not delete what its first commit put in place.
//  3. New file data is flushed (sync) before the renames that expose it, and once more
//     after them, so that after a power cut a target is the old file or the whole new one.
//  4. Nothing is put in place by writing at its final path: links and copies are made
//     under the target's partial name and renamed onto it, so a target is never cut
//     short or missing, and a commit run again redoes them from the start.
void Manifest::commit(bool showSpinner) {
    missingDirectories.clear();
    std::set<std::string> replaced = pathsReplacedByMoves(*this);
    for (const auto& [path, entry] : entries) {
        if (entry.kind == EntryKind::Unlink) {
            if (!removalLeftToMove(replaced, path))
                removePath(path);
        } else if (entry.kind == EntryKind::Link) {
            makeLink(entry);
        }
    }
    sync();
    for (const auto& [path, entry] : entries) {
        if (entry.kind == EntryKind::Move || entry.kind == EntryKind::NewFile)
            moveIntoPlace(entry, showSpinner);
    }
    sync();
}
