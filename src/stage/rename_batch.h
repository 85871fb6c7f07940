// Renames run a few at a time. Renaming a new file onto an old one frees the old file's
// blocks, and a file system that discards freed blocks waits for the device on each;
// those waits overlap when several renames are under way, while the processor does next
// to nothing. Renames within one folder (a new file made beside the one it replaces) run
// so; renames between folders wait for one another in the kernel anyway and run in turn.
#pragma once

#include <string>
#include <vector>

class RenameBatch {
  public:
    struct Rename {
        const std::string* path;  // the manifest's name of the target
        std::string source;
        std::string target;
        int error = 0;  // after run: 0 or the system error number of the rename
    };

    // Enough renames to run at once: the caller runs the batch then.
    bool full() const { return renames.size() >= Capacity; }
    void add(const std::string* path, std::string source, std::string target) {
        renames.push_back(Rename{path, std::move(source), std::move(target)});
    }
    // Does every rename of the batch, in no particular order.
    void run();
    // The renames of the last run, in the order they were added; clear() empties the batch.
    const std::vector<Rename>& done() const { return renames; }
    void clear() { renames.clear(); }

  private:
    // A bound on the memory held, and on the threads started per batch.
    static constexpr size_t Capacity = 512;
    std::vector<Rename> renames;
};
