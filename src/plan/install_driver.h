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

// What installFromStream and installBundle answer; the values are the exit statuses of
// "installer -".
enum class InstallResult : int {
    Ok = 0,
    Failed = 1,     // not read, or not installed
    Refused = 2,    // a bundle refused by the checks, a member failed, unexpected parts
    NoMembers = 3,  // a bundle file without members
};

// What an install of one package file asks for and what it tells back.
struct InstallRequest {
    InstallFlags flags = 0;
    // Package name to the disabled state the user chose for it (null: none).
    const RememberedStates* remembered = nullptr;
    // Every byte read is also written here (null: nowhere).
    std::streambuf* copy = nullptr;
    // Set to the package's database directory when it keeps its image (null: not told).
    std::string* databaseDir = nullptr;
    // Set when the package carries the boot image and the boot image is asked for.
    bool* bootImage = nullptr;
};

// Installs the package file read from input.
InstallResult installFromStream(PackageSet& set, Manifest& manifest, std::istream& input,
                                const InstallRequest& request);

// Installs the package whose header is the current part: a plain package (bundle null)
// or a member of the bundle whose reference is given. True when it was installed, or
// skipped as already present (a bundle member of the installed version, or a reinstall);
// installedName then holds its name (when given).
bool installPackage(PackageSet& set, Manifest& manifest, PackageFile& file,
                    const InstallRequest& request, const Dependency* bundle,
                    std::string* installedName);

// Installs the bundle whose header is the current part, then its members.
InstallResult installBundle(PackageSet& set, Manifest& manifest, PackageFile& file,
                            const InstallRequest& request);

// Stages the removal of the installed package of that name and drops its record. False
// when none is installed.
bool removeInstalled(PackageSet& set, Manifest& manifest, const std::string& name);
