// Unpacking a package: its files staged as temporary files, its signature enforced and
// its database entry written.
#pragma once

#include <string>

class InstalledPackage;
class Manifest;
class PackageFile;
class PackageSet;

// Installs one package whose header parts have been read into package, from the first
// part after them to its end (a bundle member: to its signature). False after a failure,
// which has been reported (except a database directory that can't be kept).
bool installPackageStream(PackageSet& set, InstalledPackage& package, Manifest& manifest,
                          PackageFile& file);

// Unpacks the files part, the current part of file, into temporary files staged for
// their targets under /flash (or /flash/x/<name>/ for a disabled package).
bool unpackFiles(PackageSet& set, InstalledPackage& package, Manifest& manifest, PackageFile& file);

// A package whose file is kept as its image needs all of it in the copy stream: a copy
// cut short (a full disk) is reported as a failed write of "image" and answers false.
bool imageCopyIsWhole(PackageSet& set, const InstalledPackage& package, PackageFile& file);

// "installation of %s failed: broken package" with the package's display name.
void reportBrokenPackage(PackageSet& set, const InstalledPackage& package);
