// Entry point of the installer: reads the command line, enters the root, loads the
// package database and runs one mode.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "driver/commit_report.h"
#include "driver/modes.h"
#include "driver/package_table.h"
#include "driver/run_lock.h"
#include "driver/saved_manifest.h"
#include "pkg/database.h"
#include "pkg/package_set.h"
#include "stage/temporaries.h"

namespace {

struct Options {
    bool quiet = false;
    std::string root;
    bool fromStdin = false;
    bool cleanup = false;
    bool show = false;
    bool commitNow = true;
    InstallFlags flags = 0;
};

// Why reading the arguments ended.
enum class ArgumentsEnd { UsedUp, Usage, Commit, Cancel };

void printUsage() {
    std::cout << "usage: installer [-q] [-r <root>] [-]" << std::endl;
}

// Reads the arguments from left to right; the first matching row of the table applies.
// "--reinstall" prints its line at once, so that it comes before anything else.
ArgumentsEnd readArguments(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasNext = i + 1 < argc;
        if (arg == "--cleanup") {
            options.cleanup = true;
            return ArgumentsEnd::UsedUp;
        } else if (arg == "--safe") {
            options.commitNow = false;
        } else if (arg == "-r" && hasNext) {
            options.root = argv[++i];
        } else if (arg == "-") {
            options.fromStdin = true;
            return ArgumentsEnd::UsedUp;
        } else if (arg == "-q") {
            options.quiet = true;
        } else if (arg == "-down") {
            options.flags |= InstallFlag::Downgrade;
        } else if (arg == "--reinstall") {
            std::cout << std::endl << "Resuming upgrade..." << std::endl;
            options.flags |= InstallFlag::Reinstall;
        } else if (arg == "-b" || arg == "--force" || arg == "--noupgrade" || arg == "-i") {
            // Accepted for the scripts that still pass them; they change nothing.
        } else if (arg == "--month" && hasNext) {
            ++i;
        } else if (arg == "--commit") {
            return ArgumentsEnd::Commit;
        } else if (arg == "--cancel") {
            return ArgumentsEnd::Cancel;
        } else if (arg == "--show") {
            options.show = true;
        } else {
            return ArgumentsEnd::Usage;
        }
    }
    return ArgumentsEnd::UsedUp;
}

// Enters the root (a failure is reported and the run goes on in the old root).
void enterRoot(const Options& options) {
    if (!options.root.empty() && chroot(options.root.c_str()) != 0)
        perror("chroot");
    if (chdir("/") != 0) {
        // Nothing to do: the paths used from here on are absolute.
    }
}

// Takes the architecture and loads the package database.
void loadPackages(PackageSet& set, const Options& options) {
    std::string arch = "i386";
    if (const char* value = getenv("arch"))
        arch = value;
    loadDatabase(set, options.quiet, arch);
}

int runShow(PackageSet& set) {
    printPackageTable(set, std::cout);
    return 0;
}

// The first mode that applies: show, cleanup, install from standard input, upgrade.
int runMode(PackageSet& set, const Options& options) {
    if (options.show)
        return runShow(set);
    if (options.cleanup)
        return runCleanupMode(set);
    if (options.fromStdin)
        return runStdinMode(set, options.flags);
    return runUpgradeMode(set, options.flags, options.commitNow);
}

}  // namespace

// Before a run reads or changes anything on the device it holds the lock, finishes the
// commit that an interrupted run left in the journal, and sweeps away the temporary files
// of interrupted runs; only then are /ram/MANIFEST and the package database read.
int main(int argc, char** argv) {
    // The set exists before anything else, so that every message has its console.
    PackageSet& set = PackageSet::instance();
    Options options;
    ArgumentsEnd end = readArguments(argc, argv, options);
    if (end == ArgumentsEnd::Usage) {
        printUsage();
        return 0;
    }
    set.quiet = options.quiet;
    if (end == ArgumentsEnd::UsedUp)
        enterRoot(options);
    bool readsOnly = end == ArgumentsEnd::UsedUp && options.show;
    RunLock lock;
    if (!lock.acquire(set, !readsOnly))
        return 1;
    Recovery recovery = finishInterruptedCommit(set, lock, readsOnly);
    if (recovery == Recovery::Kept && !readsOnly && end != ArgumentsEnd::Cancel)
        return 1;
    sweepTemporaries();
    int status = 0;
    switch (end) {
        case ArgumentsEnd::Commit:
            status = commitSavedManifest(set);
            break;
        case ArgumentsEnd::Cancel:
            status = cancelSavedManifest();
            break;
        default:
            loadPackages(set, options);
            status = runMode(set, options);
            break;
    }
    return status != 0 || recovery == Recovery::Done ? status : 1;
}
