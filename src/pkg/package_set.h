// The one object of a run: the system architecture, the installed packages and the
// console state that every message goes through.
#pragma once

#include <cstdint>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "console/console.h"
#include "pkg/package.h"

// Bits of the word that the drivers hand to the install driver and the install checks.
using InstallFlags = uint32_t;
struct InstallFlag {
    static constexpr InstallFlags Upgrade = 1;
    static constexpr InstallFlags Downgrade = 2;
    static constexpr InstallFlags Unmet = 8;
    static constexpr InstallFlags Conflict = 16;
    static constexpr InstallFlags Reinstall = 32;
};

class PackageSet {
  public:
    PackageSet() = default;
    PackageSet(const PackageSet&) = delete;
    PackageSet& operator=(const PackageSet&) = delete;

    // The set of the run, created on the first call.
    static PackageSet& instance();

    // The console (messages and status line, see Console), with the set's own words.
    void error(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void warning(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void info(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void setStatus(const std::string& text) { console.setStatus(text); }
    // Shows label and a bar of how far the package file has been read.
    void progress(uint64_t position, uint64_t total, const std::string& label);

    std::string arch;
    std::vector<std::unique_ptr<InstalledPackage>> packages;

    Console console;
    // The console's state, under the names that the rest of the program uses.
    std::string& status = console.status;
    std::vector<std::string>& log = console.log;
    bool& quiet = console.quiet;
    std::ostream*& out = console.out;
};
