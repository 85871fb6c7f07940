// The package database under /flash/var/pdb/: reading it into the package set at start,
// and writing entries and state files through the manifest.
#pragma once

#include <string>
#include <vector>

#include "pkg/package.h"

class Manifest;
class PackageSet;

// "/flash/var/pdb/" + name + "/".
std::string packageDir(const Package& package);
// directory + file name.
std::string join(const std::string& directory, const std::string& file);
// The reference that members of bundle carry: its name, min and max its version.
Dependency bundleRef(const Package& bundle);

// ---- Reading ----

enum class ImageLocation { Database, Images };

// Sets quiet and arch of the set and fills its packages from the database.
void loadDatabase(PackageSet& set, bool quiet, const std::string& arch);
// Creates records from stored package files: <dir>image or /rw/pckg/.images/<name>.
// False when /flash/var/pdb/ can't be opened.
bool loadImages(PackageSet& set, ImageLocation location);
// Fills one record from its meta files, state files and schedule file.
void loadState(InstalledPackage& package);
// Reads a deps, provides or conflicts file. False on a malformed entry; the entries read
// before it stay. A missing file is an empty list.
bool readList(const std::string& path, std::vector<Dependency>& list, bool withPriority);

// ---- Writing (all staged in the manifest) ----

// Writes the meta files and state files of a newly installed package. False after a
// reported write failure.
bool writeEntry(PackageSet& set, InstalledPackage& package, Manifest& manifest);
// prepareDir, then writeEntry; for a bundle's own entry.
bool replaceEntry(PackageSet& set, InstalledPackage& package, Manifest& manifest);
// Keeps the package's database directory: cancels its staged removal. False, reported,
// when the directory is staged for something else, a non-directory (a link included)
// stands in its place, or a link on its way leads out of /flash.
bool prepareDir(PackageSet& set, InstalledPackage& package, Manifest& manifest);
// Writes a deps, provides or conflicts file. False when the stream failed.
bool writeList(Manifest& manifest, const std::string& path, const std::vector<Dependency>& list,
               bool withPriority);
// Writes the files list; a bundle writes none.
bool writeFiles(const InstalledPackage& package, Manifest& manifest);
// The package becomes disabled / enabled (state files staged, record updated at once).
void writeDisabled(InstalledPackage& package, Manifest& manifest);
void writeEnabled(InstalledPackage& package, Manifest& manifest);

// Stages the removal of an installed package: its files (the commit never removes a folder
// that the list names), its database directory and image, and the boot image it owned. Empties its
// files and clears its action.
void removePackage(InstalledPackage& package, Manifest& manifest);
// After a commit lost the new contents of these paths: the database entries of the
// packages that own them are marked incomplete, so that the next upgrade run installs
// them again. Written directly, durably; a path no package owns is passed over.
void markIncomplete(const std::vector<std::string>& lostPaths);

// The display name of messages about an install: the bundle's dependencyText for a
// bundle member, else packageText.
std::string displayName(const InstalledPackage& package);
// Reports a failed write of label for package, chosen by errno: disk is too small
// (ENOSPC), disk error (EIO), or could not create.
void reportWriteFailure(PackageSet& set, const InstalledPackage& package, const std::string& label);
