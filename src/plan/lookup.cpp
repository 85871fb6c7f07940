// Lookups in the package set and the relations between packages.
#include "plan/lookup.h"

#include "pkg/package_set.h"

namespace {

// Phase 1 of selectAndOrder: x stays unless a related entry of the list supersedes it.
bool survivesSelection(PackageSet& set, const PackageList& list, PackageList::const_iterator x,
                       Version floorVersion, bool report) {
    const Package& candidate = **x;
    bool floorGiven = floorVersion != NoFloor;
    if (floorGiven && candidate.version < floorVersion) {
        set.warning("ommitting package %s: not allowed", packageText(candidate).c_str());
        return false;
    }
    for (auto y = list.begin(); y != list.end(); ++y) {
        if (y == x)
            continue;
        const Package& other = **y;
        if (!sharesName(candidate, other.name) && !sharesName(other, candidate.name))
            continue;
        int order = compareRecordsReversed(other, candidate, floorGiven);
        if (order > 0) {
            if (report)
                set.warning(floorGiven ? "omitting package %s: older package is already provided"
                                       : "omitting package %s: newer package is already provided",
                            packageText(candidate).c_str());
            return false;
        }
        if (order == 0 && !(candidate.isBundle && !other.isBundle))
            return false;
    }
    return true;
}

}  // namespace

int indexOfPackage(const PackageSet& set, const std::string& name) {
    for (size_t i = 0; i < set.packages.size(); ++i)
        if (sameName(set.packages[i]->name, name))
            return int(i);
    return -1;
}

InstalledPackage* findPackage(const PackageSet& set, const std::string& name) {
    int index = indexOfPackage(set, name);
    return index < 0 ? nullptr : set.packages[index].get();
}

InstalledPackage* findPackageOrProvider(const PackageSet& set, const std::string& name) {
    Dependency wanted;
    wanted.name = name;
    InstalledPackage* lastDisabled = nullptr;
    for (const auto& package : set.packages) {
        if (!sameName(package->name, name) && !providesOverlap(*package, wanted))
            continue;
        if (!package->disabled)
            return package.get();
        lastDisabled = package.get();
    }
    return lastDisabled;
}

std::vector<InstalledPackage*> findSatisfying(const PackageSet& set, const Dependency& dependency,
                                              bool includeDisabled) {
    std::vector<InstalledPackage*> found;
    for (const auto& package : set.packages) {
        if (package->isPlaceholder())
            continue;
        if (!satisfies(*package, dependency) && !providesOverlap(*package, dependency))
            continue;
        if (package->disabled && !includeDisabled)
            continue;
        found.push_back(package.get());
    }
    return found;
}

InstalledPackage* findConflicting(const PackageSet& set, const Package& package) {
    for (const auto& installed : set.packages)
        if (!installed->disabled && conflictsWith(*installed, package))
            return installed.get();
    return nullptr;
}

void selectAndOrder(PackageSet& set, PackageList& list, Version floorVersion, bool report) {
    PackageList survivors;
    for (auto x = list.cbegin(); x != list.cend(); ++x)
        if (survivesSelection(set, list, x, floorVersion, report))
            survivors.push_back(*x);

    // One insertion pass: each entry lands directly after the rearmost entry already
    // placed that it needs or that displaces it, else at the front. Nothing is revisited,
    // so cycles of needs cannot make it loop.
    PackageList ordered;
    for (Package* entry : survivors) {
        auto place = ordered.begin();
        for (auto e = ordered.rbegin(); e != ordered.rend(); ++e) {
            if (dependsOn(*entry, **e) || conflictsWith(**e, *entry)) {
                place = e.base();
                break;
            }
        }
        ordered.insert(place, entry);
    }
    list.swap(ordered);
}
