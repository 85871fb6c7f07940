// Test support: package records and sets written in a compact text form, one record per
// line, so that a planning case is a few lines of data.
//
//   name [version] [token...]
//
// name "-" is the empty name. version: 6.40, 6.40.5, 6.41beta3, 6.41rc (default 1.0),
// or "placeholder". Tokens: built=N, disabled, user, uninstall, enable, disable,
// isbundle, arch=TEXT, bundle=NAME, deps=LIST, provides=LIST, conflicts=LIST,
// members=NAME@VERSION,... (a bundle file's contents), files=/a,/b.
// A LIST entry is name[@min][..max][:priority]; "x@1.0" sets min only, "x@..2.0" max.
#pragma once

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "pkg/package.h"
#include "pkg/package_set.h"

// A package set whose console writes into a string.
struct TestSet : PackageSet {
    TestSet() { out = &console; }
    std::ostringstream console;
};

Version parseVersion(const std::string& text);
Dependency parseDependency(const std::string& text);

std::unique_ptr<InstalledPackage> parseInstalled(const std::string& line);
std::unique_ptr<CandidatePackage> parseCandidate(const std::string& line);
// Appends one installed record per non-empty line.
void addPackages(PackageSet& set, const std::string& lines);

// "a b:disabled c:uninstall": every record in set order, with ":disabled" when disabled
// and the action word when it has one.
std::string describeSet(const PackageSet& set);
// The names of the records, separated by blanks.
std::string namesOf(const std::vector<const Package*>& packages);
// The log lines of the set, each followed by "\n".
std::string logText(const PackageSet& set);
