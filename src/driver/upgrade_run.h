// The upgrade run over the package files waiting on the device, the cleanup selection,
// and the post-install log kept on flash.
#pragma once

#include <string>

#include "pkg/package_set.h"

class Manifest;

// Installs the waiting package files one after another, keeps the images of packages
// that want them, and enables again what was enabled before. After a failed install the
// manifest is empty.
void runUpgrade(PackageSet& set, Manifest& manifest, InstallFlags flags);
// Uninstalls every package that does not stay across a cleanup.
void selectForCleanup(PackageSet& set, Manifest& manifest);
// Takes the lines of /flash/postlog into the log and reserves the file's room on flash.
void preparePostLog(PackageSet& set);
// Writes the log to /flash/postlog: the new log replaces the old one whole, durably.
void writePostLog(PackageSet& set);

// Stages where a package file kept as its package's image ends up when the commit moves
// it: the database image in databaseDir, or the boot image with a link to it from there.
// Without a database directory the file is removed.
void stageImage(Manifest& manifest, const std::string& file, const std::string& databaseDir,
                bool bootImage);
