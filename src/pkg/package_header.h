// Readers of a package file's header parts into package records, and the description of
// a package file on disk.
#pragma once

#include <string>
#include <vector>

#include "pkg/package.h"
#include "pkgfile/package_file.h"

// Reads one list part into list (appending). False when the count or an entry is cut
// short; the entries read so far stay.
bool readDependencyList(PackageFile& file, std::vector<Dependency>& list);

// Reads a header part and the optional parts that follow it into record, leaving the
// file at the first part it did not take.
// Requires: the current part is a package header (1) or bundle header (18).
bool readPackageHeader(Package& record, PackageFile& file);

// Fills record from the header parts of the package file at path, with the members of
// a bundle. False when the file is cut short, unknown, or a bundle without members.
bool readPackageInfo(CandidatePackage& record, const std::string& path);
