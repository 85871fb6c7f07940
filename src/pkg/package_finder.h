// Finding the package files that wait in a directory.
#pragma once

#include <list>
#include <memory>
#include <string>

#include "pkg/package.h"

class PackageSet;

using CandidateList = std::list<std::unique_ptr<CandidatePackage>>;

// Appends a record for every ".npk" or ".dpk" file in directory (a path ending in "/"),
// in the directory's own order. Files that can't be read as package files are reported
// as "broken package <entry>" and left out; a directory that can't be opened adds nothing.
void findPackageFiles(PackageSet& set, const std::string& directory, CandidateList& list);
