// The flash space check: a free-block balance per file system, changed by every staged
// entry of the manifest.
#include <sys/stat.h>
#include <sys/statfs.h>

#include "stage/commit.h"
#include "stage/manifest.h"
#include "stage/storage.h"

namespace {

// Blocks that must stay free on each flash file system after a commit.
const int64_t ReservedBlocks = 16;

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

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
    if (startsWith(path, mountPath) && stat(path.c_str(), &st) == 0)
        freeBlocks += blocksOf(uint64_t(st.st_size));
}

void SpaceAccount::countMove(const std::string& source, const std::string& target) {
    if (!startsWith(target, mountPath))
        return;
    struct stat from;
    if (stat(source.c_str(), &from) == 0) {
        struct stat to;
        if (stat(target.c_str(), &to) == 0 && to.st_dev == from.st_dev)
            return;
        freeBlocks -= blocksOf(uint64_t(from.st_size));
    }
    countRemoval(target);
}

bool Manifest::fitsOnFlash() const {
    SpaceAccount boot("/flash/boot");
    SpaceAccount flash("/flash");
    // A removal that the commit leaves to a move is counted once, by that move.
    std::set<std::string> replaced = pathsReplacedByMoves(*this);
    for (const auto& [path, entry] : entries) {
        switch (entry.kind) {
            case EntryKind::Unlink:
                if (removalLeftToMove(replaced, path))
                    break;
                boot.countRemoval(path);
                flash.countRemoval(path);
                break;
            case EntryKind::Move:
            case EntryKind::NewFile:
                boot.countMove(entry.argument, path);
                flash.countMove(entry.argument, path);
                break;
            case EntryKind::Link:
                break;
        }
    }
    return flash.freeBlocks > ReservedBlocks && boot.freeBlocks > ReservedBlocks;
}
