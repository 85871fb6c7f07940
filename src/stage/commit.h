// Committing the manifest: the helpers the commit uses to place files.
#pragma once

#include <cstdint>
#include <set>
#include <string>

class Manifest;

// Copies source onto target (used when a move crosses file systems). The copy is written
// beside target, under partialPathFor(target), and renamed onto it when complete, so a
// failed copy leaves the old target whole. A new target gets the permission bits of source less the
// umask; an existing one keeps its mode and owner. True when the whole file was copied.
bool copyFile(const std::string& source, const std::string& target, bool showSpinner);
// The name beside target under which the commit builds a link or a copy before renaming
// it onto target: "." + the target's name + ".partial" in the same directory.
std::string partialPathFor(const std::string& target);
// Creates path and its missing ancestors with mode 0777 (less the umask).
void makeDirectories(const std::string& path);
// The clock tick count of times() plus 30000, wrapping at 32 bits.
uint32_t tickCount();
// Turns the spinner on standard output, at most once per 20 ticks (catching up after a
// pause).
void turnSpinner();
// The path with repeated "/" collapsed and a trailing "/" dropped: "/flash//bin/x" and
// "/flash/bin/x" name the same file.
std::string collapsedPath(const std::string& path);
// The collapsed targets of the Move and NewFile entries. A removal of one of them is left
// to the move's rename, which replaces the file atomically.
std::set<std::string> pathsReplacedByMoves(const Manifest& manifest);
// An Unlink of path is passed over because a move in replaced puts a file at the same
// path (a directory there is still removed first).
bool removalLeftToMove(const std::set<std::string>& replaced, const std::string& path);
