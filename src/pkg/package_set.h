// The one object of a run: the system architecture, the installed packages and the
// console state that every message goes through.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "pkg/package.h"

class PackageFile;

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

    // Console (messages and status line). error and info clear the status line first;
    // warning prints it again below the message. Messages are cut at 255 bytes and
    // kept in log; with quiet set nothing is printed or kept.
    void error(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void warning(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void info(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Shows text on the rewritten status line; an unchanged text writes nothing.
    void setStatus(const std::string& text);
    // Shows label and a bar of how far the package file has been read.
    void progress(PackageFile& file, const std::string& label);

    std::string arch;
    std::vector<std::unique_ptr<InstalledPackage>> packages;
    std::string status;
    std::vector<std::string> log;
    bool quiet = false;

    // Where console output goes; tests point it at a string stream.
    std::ostream* out = &std::cout;

  private:
    void printMessage(const char* prefix, const char* format, va_list args);
};
