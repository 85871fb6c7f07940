// The installer's temporary files and the sweep of those that interrupted runs left.
#include "stage/temporaries.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <random>
#include <set>

#include "platform/device_paths.h"
#include "platform/file_checks.h"
#include "stage/file_util.h"
#include "stage/flash_path.h"
#include "stage/journal.h"
#include "stage/manifest.h"

namespace {

// Folders deeper than this below /flash are not searched (createFile never makes a path
// longer than PATH_MAX, so none of its files lies deeper).
constexpr int MaxDepth = 2048;

bool markedByThisRun = false;
// The marker as this run made it, for the signal handler: only a marker that no earlier
// run left and no saved manifest needs goes with this run's temporary files.
char markerMade[PATH_MAX + 1] = "";
volatile bool markerOwned = false;

// The sources of the moves that the journal and the saved manifest name: temporary files
// that a commit still needs. False when one of them can't be read: what it names is then
// not known, and nothing on flash may go.
bool stillNeeded(std::set<std::string>& needed) {
    for (const char* file : {device::Journal, device::SavedManifest}) {
        Manifest manifest;
        LoadResult loaded = manifest.load(file);
        if (loaded.status == LoadResult::Refused)
            return false;
        for (const auto& [path, entry] : manifest.all())
            if (entry.kind == EntryKind::Move)
                needed.insert(entry.argument);
    }
    return true;
}

class Sweep {
  public:
    explicit Sweep(std::set<std::string> needed) : needed(std::move(needed)) {}

    // Deletes the temporary files in folder (and below, when deep) that no commit needs.
    void folder(const std::string& path, bool deep, int depth = 0) {
        DIR* dir = opendir(path.c_str());
        if (dir == nullptr)
            return;
        while (dirent* entry = readdir(dir)) {
            const char* name = entry->d_name;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
                continue;
            std::string child = path + "/" + name;
            bool isFolder = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN)
                isFolder = ::isFolder(child);
            if (isFolder) {
                if (deep && depth < MaxDepth)
                    folder(child, true, depth + 1);
            } else if (isTemporaryName(name)) {
                file(child);
            }
        }
        closedir(dir);
    }

    void file(const std::string& path) {
        if (needed.count(path) == 0 && unlink(path.c_str()) == 0)
            ++removed;
    }

    size_t removed = 0;

  private:
    std::set<std::string> needed;
};

// The marker's path through real folders (the database folder made when missing).
bool markerPath(std::string& real, bool make) {
    FlashPaths paths;
    return paths.resolve(device::StagingMarker, real, nullptr, make) == PathStatus::Ok;
}

// Names need only not to collide: the time and the process are seed enough where the
// kernel has no random bytes to give.
unsigned randomSeed() {
    unsigned seed = 0;
    if (getrandom(&seed, sizeof seed, GRND_NONBLOCK) != sizeof seed)
        seed = unsigned(time(nullptr)) * 2654435761u ^ unsigned(getpid());
    return seed;
}

}  // namespace

bool isTemporaryName(const std::string& name) {
    return name.compare(0, sizeof device::TemporaryPrefix - 1, device::TemporaryPrefix) == 0;
}

int createTemporary(const std::string& folder, unsigned mode, std::string& name) {
    static const char Letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static std::minstd_rand random{randomSeed()};
    static const mode_t mask = currentUmask();
    mode &= 07777;
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = folder + "/" + device::TemporaryPrefix;
        for (int i = 0; i < 6; ++i)
            name += Letters[random() % (sizeof Letters - 1)];
        int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd < 0 && errno == EEXIST)
            continue;
        // open takes the umask off and may drop the set-id bits: those need fchmod.
        if (fd >= 0 && (mode & (mask | 07000)) != 0 && fchmod(fd, mode) != 0) {
            int error = errno;
            close(fd);
            unlink(name.c_str());
            errno = error;
            return -1;
        }
        return fd;
    }
    errno = EEXIST;
    return -1;
}

bool markStaging() {
    if (markedByThisRun)
        return true;
    std::string real;
    if (!markerPath(real, true))
        return false;
    int fd = open(real.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    bool made = fd >= 0;
    if (fd < 0 && (errno != EEXIST || (fd = open(real.c_str(), O_RDONLY | O_NOFOLLOW)) < 0))
        return false;
    close(fd);
    // The marker must be on flash before any temporary file can be.
    markedByThisRun = syncDirectory(parentDirectory(real));
    if (made && real.size() < sizeof markerMade && !exists(device::SavedManifest)) {
        std::strcpy(markerMade, real.c_str());
        markerOwned = true;
    }
    return markedByThisRun;
}

void dropStagingMarker() {
    if (markerOwned)
        unlink(markerMade);
}

void settleStaging(bool savedManifestSpent) {
    std::string real;
    bool savedManifest = isRegularFile(device::SavedManifest, Follow::Yes);
    if ((savedManifest && !savedManifestSpent) || journal::exists() || !markerPath(real, false))
        return;
    if (unlink(real.c_str()) == 0)
        markedByThisRun = false;
}

// The RAM disk is looked at on every start (it is small, and a commit that copied from it
// may have left its sources there); flash only when the marker says a run was cut short.
size_t sweepTemporaries() {
    std::string marker;
    bool interrupted = markerPath(marker, false) && exists(marker);
    std::set<std::string> needed;
    if (!stillNeeded(needed))
        return 0;
    Sweep sweep(std::move(needed));
    sweep.folder(device::Ram, false);
    sweep.folder(device::Tmp, false);
    if (!interrupted)
        return sweep.removed;
    sweep.folder(device::Flash, true);
    if (isRegularFile(device::StdinImageSource))
        sweep.file(device::StdinImageSource);
    settleStaging();
    return sweep.removed;
}
