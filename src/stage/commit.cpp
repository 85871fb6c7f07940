// Committing the manifest: the journal, removals and links first, then the renames that
// put files in place, copies across file systems last; the spinner of "--commit".
#include "stage/commit.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <iostream>

#include "platform/device_paths.h"
#include "stage/file_util.h"
#include "stage/journal.h"
#include "stage/manifest.h"
#include "stage/rename_batch.h"
#include "stage/signal_guard.h"

// Flushes the file systems that hold the given folders.
class FileSystems {
  public:
    void note(const std::string& folder) {
        if (folder == last)
            return;
        last = folder;
        struct stat st;
        if (stat(folder.c_str(), &st) == 0 &&
            std::find(devices.begin(), devices.end(), st.st_dev) == devices.end()) {
            devices.push_back(st.st_dev);
            folders.push_back(folder);
        }
    }
    void sync() const {
        for (const std::string& folder : folders) {
            int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (fd >= 0) {
                syncfs(fd);
                close(fd);
            }
        }
    }

  private:
    std::string last;
    std::vector<dev_t> devices;
    std::vector<std::string> folders;
};

namespace {

const size_t CopyChunk = 16384;
const uint32_t SpinnerPeriod = 20;
const char SpinnerCharacters[] = "|/-\\";
// Blocks that a copy built beside its old target must leave free; with less room the old
// target goes first, so that the copy needs no more room than the new file.
const uint64_t CopyReserveBlocks = 16;

// The spinner of the process: lastTick 0 means it has not turned yet.
uint32_t spinnerLastTick = 0;
unsigned spinnerIndex = 0;

// The clock tick count of times() plus 30000, wrapping at 32 bits.
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
        if (put != got) {
            if (put >= 0)
                errno = ENOSPC;
            return false;
        }
        if (showSpinner)
            turnSpinner();
    }
}

// A move across file systems, left until every rename is done.
struct Copy {
    const std::string* path;
    std::string source;
    std::string target;
    int64_t growth;  // bytes the copy takes on the target's file system
    bool owned;      // the source is the manifest's temporary file
};

int64_t sizeOf(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 ? st.st_size
                                                                                    : 0;
}

// One commit of a manifest's entries; the journal is already on flash.
class Commit {
  public:
    // sources: the file systems that hold the sources of the moves, when known. A rename
    // leaves its target on its source's file system, so the folders of renamed targets
    // need no look of their own.
    Commit(const std::map<std::string, ManifestEntry>& entries, const std::set<std::string>& copied,
           const FileSystems* sources, bool showSpinner)
        : entries(entries), copied(copied), showSpinner(showSpinner) {
        if (sources != nullptr) {
            touched = *sources;
            renamesNoted = true;
        }
        std::string real;
        if (paths.resolve(std::string(device::Database) + "x", real) == PathStatus::Ok)
            databaseFolder = parentDirectory(real);
    }

    CommitResult run() {
        for (const auto& [path, entry] : entries) {
            if (entry.kind == EntryKind::Unlink && !removalLeftToMove(entries, path))
                removePath(path);
            else if (entry.kind == EntryKind::Link)
                makeLink(path, entry.argument);
        }
        // The removals may have taken folders that were checked.
        paths.forget();
        for (const auto& [path, entry] : entries)
            if (entry.kind == EntryKind::Move || entry.kind == EntryKind::NewFile)
                move(path, entry);
        runRenames();
        copyAll();
        touched.sync();
        return result;
    }

  private:
    void fail(const std::string& path, int error, CommitProblem::Kind kind) {
        result.problems.push_back(CommitProblem{path, error, kind});
    }

    // The real path of path, its missing folders made with make. A path that leads out of
    // /flash is refused.
    bool resolve(const std::string& path, std::string& real, bool make, bool note = true) {
        PathStatus status = paths.resolve(path, real, nullptr, make);
        if (status == PathStatus::Ok) {
            if (note)
                touched.note(parentDirectory(real));
            return true;
        }
        int error = errorNumberOf(status);
        fail(path, error,
             status == PathStatus::Failed ? CommitProblem::Failed : CommitProblem::Refused);
        return false;
    }

    // A folder is removed only when it is a package's database folder: its plain files go
    // (not those whose names begin with "."), then the folder when that left it empty. No
    // other folder is removed or emptied, whatever a files list names.
    void removePath(const std::string& path) {
        std::string real;
        if (!resolve(path, real, false))
            return;
        struct stat st;
        if (lstat(real.c_str(), &st) != 0)
            return;
        if (!S_ISDIR(st.st_mode)) {
            unlink(real.c_str());
            return;
        }
        if (databaseFolder.empty() || parentDirectory(real) != databaseFolder)
            return;
        if (DIR* dir = opendir(real.c_str())) {
            while (dirent* entry = readdir(dir))
                if (entry->d_name[0] != '\0' && entry->d_name[0] != '.')
                    unlinkat(dirfd(dir), entry->d_name, 0);
            closedir(dir);
        }
        rmdir(real.c_str());
    }

    // The link is made under the partial name and renamed onto path, which replaces
    // whatever stood there in one step: path is never missing.
    void makeLink(const std::string& path, const std::string& text) {
        std::string real;
        if (!resolve(path, real, true))
            return;
        std::string partial = parentDirectory(real) + "/" + device::PartialName;
        unlink(partial.c_str());
        if (symlink(text.c_str(), partial.c_str()) != 0 ||
            rename(partial.c_str(), real.c_str()) != 0) {
            int error = errno;
            unlink(partial.c_str());
            errno = error;
            perror("symlink");
            fail(path, error, CommitProblem::Failed);
        }
    }

    // A move whose source is gone was done by an earlier try when the target is there and
    // both lie on one file system (a rename leaves no source behind). A copy across file
    // systems leaves its source, so a source gone there was lost (a RAM disk emptied by a
    // restart), unless the journal notes the copy as done.
    void move(const std::string& path, const ManifestEntry& entry) {
        const std::string argument = entry.fullArgument(path);
        std::string target, source = argument;
        if (!resolve(path, target, true, !renamesNoted) || copied.count(path) != 0)
            return;
        if (isUnderFlash(source) && paths.resolve(argument, source) != PathStatus::Ok) {
            fail(path, EXDEV, CommitProblem::Refused);
            return;
        }
        // The moves of one manifest are independent of one another: each has a target and
        // a source of its own, and its folders are made here.
        renames.add(&path, std::move(source), std::move(target));
        if (renames.full())
            runRenames();
    }

    void runRenames() {
        renames.run();
        for (const RenameBatch::Rename& done : renames.done())
            if (done.error != 0)
                renameFailed(*done.path, done.source, done.target, done.error);
        renames.clear();
    }

    void renameFailed(const std::string& path, const std::string& source, const std::string& target,
                      int error) {
        if (error == EXDEV) {
            touched.note(parentDirectory(target));
            copies.push_back(
                Copy{&path, source, target, sizeOf(source) - sizeOf(target), isOwned(path)});
            return;
        }
        if (error == ENOENT && movedBefore(source, target))
            return;
        errno = error;
        perror("rename");
        fail(path, error, kindOf(error));
    }

    bool isOwned(const std::string& path) const {
        auto entry = entries.find(path);
        return entry != entries.end() && entry->second.kind == EntryKind::NewFile;
    }

    // A source that is gone stays gone, and a folder in the way stays there: trying again
    // can't help.
    static CommitProblem::Kind kindOf(int error) {
        if (error == ENOENT)
            return CommitProblem::Lost;
        if (error == EISDIR || error == ENOTEMPTY || error == EEXIST || error == ENOTDIR)
            return CommitProblem::Refused;
        return CommitProblem::Failed;
    }

    static bool movedBefore(const std::string& source, const std::string& target) {
        struct stat from, to;
        return lstat(target.c_str(), &to) == 0 &&
               stat(parentDirectory(source).c_str(), &from) == 0 &&
               stat(parentDirectory(target).c_str(), &to) == 0 && from.st_dev == to.st_dev;
    }

    // Copies that free room go first, so that a commit whose end result fits never runs
    // out of room on the way.
    void copyAll() {
        std::stable_sort(copies.begin(), copies.end(),
                         [](const Copy& a, const Copy& b) { return a.growth < b.growth; });
        for (const Copy& copy : copies) {
            int error = copyFile(copy.source, copy.target);
            // Once the journal notes the copy, a temporary file of this run is not needed.
            if (error == 0 && journal::noteCopied(*copy.path) && copy.owned)
                unlink(copy.source.c_str());
            else if (error != 0)
                fail(*copy.path, error, kindOf(error));
        }
    }

    // Copies source onto target under the partial name beside it and renames it into place
    // when complete and flushed. A new target gets the permission bits of source less the
    // umask; an existing one keeps its mode and owner. The old target stays until the
    // rename unless the file system has no room for both. 0 or the system error number.
    int copyFile(const std::string& source, const std::string& target) {
        struct stat st, old;
        if (stat(source.c_str(), &st) != 0)
            return errno;
        if (!S_ISREG(st.st_mode))
            return EINVAL;
        bool hadTarget = lstat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);
        mode_t mode = hadTarget ? old.st_mode & 07777 : st.st_mode & 07777 & ~currentUmask();
        std::string folder = parentDirectory(target);
        struct statfs fs;
        if (hadTarget && statfs(folder.c_str(), &fs) == 0) {
            uint64_t free = uint64_t(fs.f_bfree) * fs.f_bsize;
            uint64_t needed = uint64_t(st.st_size) + CopyReserveBlocks * fs.f_bsize;
            // Without room for both the old target goes first, if the new file then fits.
            if (free < needed && free + uint64_t(old.st_size) >= uint64_t(st.st_size) + fs.f_bsize)
                unlink(target.c_str());
        }
        std::string partial = folder + "/" + device::PartialName;
        unlink(partial.c_str());
        int to = open(partial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (to < 0)
            return errno;
        int from = open(source.c_str(), O_RDONLY | O_CLOEXEC);
        bool ok = from >= 0 && copyContents(from, to, showSpinner);
        int error = errno;
        if (from >= 0)
            close(from);
        if (ok && hadTarget) {
            // Keeping the owner of the old target is best effort; its mode is what matters.
            [[maybe_unused]] int ignored = fchown(to, old.st_uid, old.st_gid);
        }
        ok = ok && fchmod(to, mode) == 0 && fsync(to) == 0;
        if (!ok)
            error = errno;
        ok = close(to) == 0 && ok;
        if (ok && rename(partial.c_str(), target.c_str()) == 0)
            return 0;
        if (ok)
            error = errno;
        unlink(partial.c_str());
        return error == 0 ? EIO : error;
    }

    const std::map<std::string, ManifestEntry>& entries;
    const std::set<std::string>& copied;
    bool showSpinner;
    FlashPaths paths;
    std::string databaseFolder;
    RenameBatch renames;
    std::vector<Copy> copies;
    FileSystems touched;
    bool renamesNoted = false;  // touched holds the file systems of the moves' sources
    CommitResult result;
};

}  // namespace

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

bool removalLeftToMove(const std::map<std::string, ManifestEntry>& entries,
                       const std::string& path) {
    auto move = entries.find(collapsedPath(path));
    return move != entries.end() &&
           (move->second.kind == EntryKind::Move || move->second.kind == EntryKind::NewFile);
}

// The order of the steps keeps every package wholly old or wholly new:
//  1. New file data is flushed before the journal names it, and the journal is on flash
//     before the first change: a commit cut short at any point is finished from the
//     journal at the next start, every step of it being safe to do twice.
//  2. Every removal and link happens before the first move. A removal of a path that a
//     move of this manifest replaces is left to that move's rename, which replaces the
//     file atomically: the file is never missing.
//  3. Nothing is put in place by writing at its final path: links and copies are made
//     under the partial name and renamed onto their targets.
//  4. Renames within a file system come before copies across file systems, and copies
//     that free room before those that take it, so that a commit that fits in the end
//     fits on the way; a copy that finds no room beside its old target removes it first.
//  5. The changes are flushed before the journal goes.
//  6. A commit that would not find room for every copy, folder and its journal on the way
//     does not begin at all.
CommitResult Manifest::commit(bool showSpinner) {
    // From here a termination signal ends the run at once; the journal covers the rest.
    staging::unguard();
    if (entries.empty())
        return CommitResult();
    // A commit that would run out of room on the way does not begin.
    if (!roomChecked && !hasRoomToCommit()) {
        CommitResult result;
        result.problems.push_back(CommitProblem{device::Flash, ENOSPC, CommitProblem::Failed});
        return result;
    }
    // The commit resolves paths anew; what staging found is no longer needed.
    paths.forget();
    FileSystems sources;
    for (const auto& [path, entry] : entries)
        if (entry.kind == EntryKind::Move || entry.kind == EntryKind::NewFile)
            sources.note(parentDirectory(entry.fullArgument(path)));
    sources.sync();
    if (!journal::write(*this)) {
        CommitResult result;
        result.problems.push_back(CommitProblem{device::Journal, errno, CommitProblem::Failed});
        return result;
    }
    return apply(&sources, showSpinner);
}

CommitResult Manifest::finishJournal(bool showSpinner) {
    staging::unguard();
    return apply(nullptr, showSpinner);
}

CommitResult Manifest::apply(const FileSystems* sources, bool showSpinner) {
    CommitResult result = Commit(entries, copied, sources, showSpinner).run();
    result.started = true;
    for (const CommitProblem& problem : result.problems)
        if (problem.kind == CommitProblem::Failed)
            result.journalKept = true;
    if (!result.journalKept)
        journal::remove();
    return result;
}
