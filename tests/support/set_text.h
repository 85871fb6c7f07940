// Test support: package records in a compact text form, "name [version] [token...]": name
// "-" is the empty name; version 6.40, 6.40.5, 6.41beta3, 6.41rc (default 1.0) or
// "placeholder". Tokens: built=N, disabled, user, uninstall, enable, disable, isbundle, boot,
// arch=TEXT, bundle=NAME, deps=LIST, provides=LIST, conflicts=LIST, files=/a,/b and
// members=NAME@VERSION,... (a bundle file's contents). A LIST entry is
// name[@min][..max][:priority]: "x@1.0" sets min only, "x@..2.0" max only.
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

// The parts of text between separators, blanks around them trimmed, empty ones dropped.
std::vector<std::string> fields(const std::string& text, char separator);

Version parseVersion(const std::string& text);
Dependency parseDependency(const std::string& text);
std::unique_ptr<CandidatePackage> parseCandidate(const std::string& text);
// Appends one installed record per part of records separated by ";".
void addPackages(PackageSet& set, const std::string& records);

// Every record in set order: its name, ":disabled" when disabled, and ":" and its action
// word when it has one ("a b:disabled:enable").
std::string describeSet(const PackageSet& set);
// The log lines of the set joined by ";".
std::string logText(const PackageSet& set);
