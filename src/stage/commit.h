// Committing the manifest: what the flash space check shares with the commit.
#pragma once

#include <map>
#include <set>
#include <string>

#include "stage/manifest.h"

// The path with repeated "/" collapsed and a trailing "/" dropped: "/flash//bin/x" and
// "/flash/bin/x" name the same file.
std::string collapsedPath(const std::string& path);

// The targets of the moves of a manifest, collapsed. The commit leaves the removal of such
// a path to the move's rename, which replaces the file atomically, unless a folder stands
// there (a rename can't replace it).
class MoveTargets {
  public:
    explicit MoveTargets(const std::map<std::string, ManifestEntry>& entries);
    // The removal of path is left to a move.
    bool leaveRemovalOf(const std::string& path) const;

  private:
    std::set<std::string> targets;
};
