// Times the planning of scheduled actions on large package sets: a run with nothing to do,
// and one that uninstalls a package that a tenth of the set (disabled) depends on.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "pkg/package_set.h"
#include "plan/actions.h"
#include "stage/manifest.h"

namespace {

Dependency named(const std::string& name) {
    Dependency dependency;
    dependency.name = name;
    return dependency;
}

// "core" and "base", then chains of ten packages, each needing the one before it. The
// first tenth of the set is disabled and each of it also needs "core"; the chains of the
// rest begin with a need of "base". Every package also provides a service name and
// conflicts with a name nobody has.
void fillSet(PackageSet& set, size_t count) {
    for (const char* name : {"core", "base"})
        set.packages.push_back(std::make_unique<InstalledPackage>(name, 0x01006600, 1));
    size_t coreUsers = count / 10;
    for (size_t i = 0; i + 2 < count; ++i) {
        size_t chain = i / 10;
        auto package = std::make_unique<InstalledPackage>("p" + std::to_string(i), 0x01006600, 1);
        if (i % 10 != 0)
            package->deps.push_back(named("p" + std::to_string(i - 1)));
        if (i < coreUsers) {
            package->deps.push_back(named("core"));
            package->disabled = true;
        } else if (i % 10 == 0) {
            package->deps.push_back(named("base"));
        }
        package->provides.push_back(named("service" + std::to_string(chain)));
        package->conflicts.push_back(named("old" + std::to_string(i)));
        set.packages.push_back(std::move(package));
    }
}

// The fastest of several runs, in milliseconds; each run gets a fresh set.
double timePlanning(size_t count, bool uninstallCore, size_t& remaining) {
    double best = 1e9;
    for (int run = 0; run < 7; ++run) {
        PackageSet set;
        set.quiet = true;
        fillSet(set, count);
        if (uninstallCore)
            set.packages.front()->action = ScheduledAction::Uninstall;
        Manifest manifest;
        auto start = std::chrono::steady_clock::now();
        applyScheduledActions(set, manifest, Verbosity::Silent);
        auto end = std::chrono::steady_clock::now();
        best = std::min(best, std::chrono::duration<double, std::milli>(end - start).count());
        remaining = set.packages.size();
    }
    return best;
}

}  // namespace

int main() {
    double idle[2];
    double cascade[2];
    const size_t sizes[2] = {100, 1000};
    for (int i = 0; i < 2; ++i) {
        size_t remaining = 0;
        idle[i] = timePlanning(sizes[i], false, remaining);
        printf("%4zu packages: nothing to do              %8.3f ms\n", sizes[i], idle[i]);
        cascade[i] = timePlanning(sizes[i], true, remaining);
        printf("%4zu packages: uninstall with %3zu dependents %8.3f ms\n", sizes[i],
               sizes[i] - remaining - 1, cascade[i]);
    }
    printf("1000 / 100: nothing to do %.1fx, uninstall %.1fx\n", idle[1] / idle[0],
           cascade[1] / cascade[0]);
    return 0;
}
