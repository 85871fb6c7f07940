// The flash space check: a free-block balance per file system, changed by every staged
// entry of the manifest.
#include <sys/stat.h>
#include <sys/statfs.h>

#include <algorithm>

#include "platform/device_paths.h"
#include "stage/commit.h"
#include "stage/manifest.h"
#include "stage/space.h"

namespace {

// Blocks that must stay free on each flash file system after a commit.
const int64_t ReservedBlocks = 16;

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// The length of a journal line for path and argument, with room for escapes.
uint64_t journalLine(const std::string& path, const ManifestEntry& entry) {
    return 4 + 2 * path.size() + entry.argument.size();
}

// Counts the folders that the commit makes, each once while the paths come in order (a
// folder met again after others may count twice, which only errs on the safe side).
class NewFolders {
  public:
    // The missing folders of real (those after its first existing characters) not counted
    // before.
    size_t count(const std::string& real, size_t existing) {
        size_t end = real.rfind('/');
        if (end == std::string::npos || end <= existing)
            return 0;
        // The deepest folder that real shares with the last counted one.
        size_t shared = 0;
        while (shared < end && shared < last.size() && real[shared] == last[shared])
            ++shared;
        bool atBoundary = (shared == end || real[shared] == '/') &&
                          (shared == last.size() || last[shared] == '/');
        if (!atBoundary)
            shared = real.rfind('/', shared);
        size_t from = std::max(existing, shared);
        size_t made = 0;
        for (size_t slash = from; slash != std::string::npos && slash < end;
             slash = real.find('/', slash + 1))
            ++made;
        last.assign(real, 0, end);
        return made;
    }

  private:
    std::string last;
};

}  // namespace

SpaceAccount::SpaceAccount(const std::string& mountPath) : mountPath(mountPath) {
    struct statfs fs;
    if (statfs(mountPath.c_str(), &fs) == 0) {
        blockSize = uint32_t(fs.f_bsize);
        freeBlocks = int64_t(fs.f_bfree);
    } else {
        blockSize = 1;
        freeBlocks = 0;
    }
}

// Sizes and balances are 64-bit: a file of 4 GiB or more, or a file system with more
// than 2^31 free blocks, would wrap in 32 bits.
int64_t SpaceAccount::blocksOf(uint64_t size) const {
    uint64_t block = blockSize == 0 ? 1 : blockSize;
    return int64_t((size + block - 1) / block);
}

void SpaceAccount::countRemoval(const std::string& path) {
    struct stat st;
    if (startsWith(path, mountPath) && lstat(path.c_str(), &st) == 0)
        freeBlocks += blocksOf(uint64_t(st.st_size));
}

void SpaceAccount::countMove(const std::string& source, const std::string& target, bool mayExist) {
    if (!startsWith(target, mountPath))
        return;
    struct stat from, to;
    bool targetExists = mayExist && lstat(target.c_str(), &to) == 0;
    if (stat(source.c_str(), &from) == 0) {
        if (targetExists && to.st_dev == from.st_dev)
            return;
        freeBlocks -= blocksOf(uint64_t(from.st_size));
    }
    if (targetExists)
        freeBlocks += blocksOf(uint64_t(to.st_size));
}

// A rename within a file system takes no room (the data is there) and gives back the old
// target's; only a copy from another file system takes the room of its source.
void SpaceAccount::countCommittedMove(const std::string& source, const std::string& target,
                                      const std::string& folder) {
    struct stat from, place;
    if (!startsWith(target, mountPath) || stat(source.c_str(), &from) != 0)
        return;
    bool sameDevice = stat(folder.c_str(), &place) == 0 && place.st_dev == from.st_dev;
    if (!sameDevice)
        freeBlocks -= blocksOf(uint64_t(from.st_size));
    countRemoval(target);
}

void SpaceAccount::countNew(const std::string& path, uint64_t size) {
    if (startsWith(path, mountPath))
        freeBlocks -= blocksOf(size);
}

void SpaceAccount::countNewFolders(const std::string& path, size_t folders) {
    if (startsWith(path, mountPath))
        freeBlocks -= int64_t(folders);
}

// Besides the balance of each entry, the commit needs room for its journal and for every
// folder it makes. The staged temporary files already take their room; the check that the
// upgrade runs (exact) counts a new file's blocks again, and an old file it replaces as
// still there, so that more than enough stays free.
void Manifest::balance(SpaceAccount& flash, SpaceAccount& boot, bool exact) const {
    uint64_t journalSize = 0;
    NewFolders newFolders;
    for (const auto& [path, entry] : entries) {
        journalSize += journalLine(path, entry);
        std::string real;
        size_t existing = 0;
        bool resolved = paths.resolve(path, real, &existing) == PathStatus::Ok;
        switch (entry.kind) {
            case EntryKind::Unlink:
                if (removalLeftToMove(entries, path))
                    break;
                boot.countRemoval(path);
                flash.countRemoval(path);
                break;
            case EntryKind::Move:
            case EntryKind::NewFile:
                if (exact) {
                    std::string folder = resolved ? real.substr(0, existing) : device::Flash;
                    std::string source = entry.fullArgument(path);
                    boot.countCommittedMove(source, path, folder);
                    flash.countCommittedMove(source, path, folder);
                } else if (!entry.besideOldFile) {
                    // A target in a folder still to be made can't be there yet.
                    bool mayExist = !resolved || existing == real.rfind('/');
                    std::string source = entry.fullArgument(path);
                    boot.countMove(source, path, mayExist);
                    flash.countMove(source, path, mayExist);
                }
                [[fallthrough]];
            case EntryKind::Link: {
                if (!resolved)
                    break;
                size_t made = newFolders.count(real, existing);
                boot.countNewFolders(real, made);
                flash.countNewFolders(real, made);
                break;
            }
        }
    }
    flash.countNew(device::Journal, journalSize);
}

bool Manifest::fitsOnFlash() const {
    SpaceAccount boot(device::FlashBoot);
    SpaceAccount flash(device::Flash);
    balance(flash, boot, false);
    // This count is never lower than the exact one: the commit need not count again.
    roomChecked = flash.freeBlocks > ReservedBlocks && boot.freeBlocks > ReservedBlocks;
    return roomChecked;
}

// A file system that is not there (no /flash/boot) takes nothing: its account is left out.
bool Manifest::hasRoomToCommit() const {
    SpaceAccount boot(device::FlashBoot);
    SpaceAccount flash(device::Flash);
    int64_t bootBefore = boot.freeBlocks, flashBefore = flash.freeBlocks;
    balance(flash, boot, true);
    return (flash.freeBlocks >= 0 || flash.freeBlocks >= flashBefore) &&
           (boot.freeBlocks >= 0 || boot.freeBlocks >= bootBefore);
}
