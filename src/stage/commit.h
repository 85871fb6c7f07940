// Committing the manifest: what the flash space check shares with the commit.
#pragma once

#include <map>
#include <string>

#include "stage/manifest.h"

// The path with repeated "/" collapsed and a trailing "/" dropped: "/flash//bin/x" and
// "/flash/bin/x" name the same file.
std::string collapsedPath(const std::string& path);

// The removal of path is left to a move of entries onto the same file (a path that only
// differs by doubled slashes), whose rename replaces the file atomically.
bool removalLeftToMove(const std::map<std::string, ManifestEntry>& entries,
                       const std::string& path);
