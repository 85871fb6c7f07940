// The flash space check: the running free-space balance of one file system.
#pragma once

#include <cstdint>
#include <string>

// The running free-space balance of one file system, seen through one mount path.
class SpaceAccount {
  public:
    explicit SpaceAccount(const std::string& mountPath);

    // A path under the mount path that exists gives its blocks back.
    void countRemoval(const std::string& path);
    // source moved onto target: the blocks of source are taken, those of an old target
    // given back; nothing changes when both already lie on the same device.
    void countMove(const std::string& source, const std::string& target, bool mayExist = true);
    // As countMove, for the room the commit itself needs: a rename within the file system
    // takes none and gives the old target's back, a copy takes the source's.
    // folder is the nearest existing folder of target.
    void countCommittedMove(const std::string& source, const std::string& target,
                            const std::string& folder);
    // A new file of size bytes at path.
    void countNew(const std::string& path, uint64_t size);
    // New folders at path, a block each.
    void countNewFolders(const std::string& path, size_t folders);

    std::string mountPath;
    uint32_t blockSize;
    int64_t freeBlocks;

  private:
    int64_t blocksOf(uint64_t size) const;
};
