// The table of installed packages that "--show" prints.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

class PackageSet;

// Prints the header, the rule and one row per installed package, in the order of the
// set. Written straight to out: "-q" does not silence it and nothing of it is logged.
void printPackageTable(const PackageSet& set, std::ostream& out);

// A build time as UTC calendar time, "Mar/08/2017 14:05:09" (English month names).
std::string buildTimeText(uint32_t buildTime);
