// Install driver: one package file, plain or bundle, checked and installed in place of
// the older version, with the scheduled actions planned again afterwards.
#pragma once

#include <istream>
#include <map>
#include <streambuf>
#include <string>

#include "pkg/package.h"
#include "pkg/package_set.h"

class Manifest;
class PackageFile;

// Package name to the disabled state the user chose for it.
using RememberedStates = std::map<std::string, bool>;

// Result codes of installFromStream and installBundle.
enum InstallResult : int {
    InstallOk = 0,
    InstallFailed = 1,     // not read, or not installed
    InstallRefused = 2,    // a bundle refused by the checks, a member failed, unexpected parts
    InstallNoMembers = 3,  // a bundle file without members
};

// Installs the package file read from input; every byte read also goes to copy. Sets
// databaseDir for a package with keepImage and bootImage when its boot image is to be
// used (both optional).
int installFromStream(PackageSet& set, Manifest& manifest, std::istream& input, InstallFlags flags,
                      const RememberedStates& remembered, std::streambuf* copy = nullptr,
                      std::string* databaseDir = nullptr, bool* bootImage = nullptr);

// Installs the package whose header is the current part. True when it was installed, or
// skipped as already present (a bundle member of the installed version, or a reinstall);
// installedName then holds its name. bundle is the reference of the bundle being
// installed, or null for a plain package.
bool installPackage(PackageSet& set, Manifest& manifest, PackageFile& file, InstallFlags flags,
                    const RememberedStates& remembered, const Dependency* bundle,
                    std::string* databaseDir, bool* bootImage, std::string* installedName);

// Installs the bundle whose header is the current part, then its members.
int installBundle(PackageSet& set, Manifest& manifest, PackageFile& file, InstallFlags flags,
                  const RememberedStates& remembered, std::string* databaseDir, bool* bootImage);

// Stages the removal of the installed package of that name and drops its record. False
// when none is installed.
bool removeInstalled(PackageSet& set, Manifest& manifest, const std::string& name);
