// Storage and boot image: flash space accounting, the flash and processor queries, and
// the staged removal of an installed package.
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
    void countMove(const std::string& source, const std::string& target);
    // As countMove, for the room the commit itself needs: a rename within the file system
    // takes none and gives the old target's back, a copy takes the source's.
    // folder is the nearest existing folder of target.
    void countCommittedMove(const std::string& source, const std::string& target,
                            const std::string& folder);
    // A new file of size bytes at path (a folder counts with one block).
    void countNew(const std::string& path, uint64_t size);

    std::string mountPath;
    uint32_t blockSize;
    int64_t freeBlocks;

  private:
    int64_t blocksOf(uint64_t size) const;
};

// "/dev/mtd0" reports erase blocks of 256 KiB.
bool hasLargeEraseBlocks();
// The answer of "/dev/flash" to its capability request, masked to bit value 16.
uint32_t flashCapabilities();
// The processor class code (0 to 4) of a processor version register value, given the
// flash capability bits.
int processorClassOf(uint32_t pvr, uint32_t capabilities);
// The processor class code of this board; 0 on a processor that is not PowerPC.
int processorClass();
// The environment variable "bootimage" is set (an empty value counts).
bool bootImageRequested();
