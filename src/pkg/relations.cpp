// Relations between package records: what satisfies a dependency, what displaces what,
// what needs what, and which of two records is newer.
#include "pkg/relations.h"

namespace {

// The first member of package named name, or null.
const Package* memberNamed(const Package& package, const std::string& name) {
    for (const auto& member : package.contents)
        if (sameName(member->name, name))
            return member.get();
    return nullptr;
}

// The decision of the priority tests of conflictsWith: -1 when no names meet, else 0 or 1.
int priorityDecision(const Package& a, const Package& b) {
    for (const Dependency& provided : b.provides)
        if (sameName(provided.name, a.name))
            return provided.priority < 0 ? 1 : 0;
    for (const Dependency& offered : a.provides) {
        if (sameName(offered.name, b.name))
            return offered.priority >= 0 ? 1 : 0;
        for (const Dependency& provided : b.provides)
            if (sameName(provided.name, offered.name))
                return offered.priority > provided.priority ? 1 : 0;
    }
    return -1;
}

}  // namespace

bool satisfies(const Package& package, const Dependency& dependency) {
    return sameName(package.name, dependency.name) && package.version >= dependency.min &&
           (dependency.max == 0 || package.version <= dependency.max);
}

bool overlaps(const Dependency& a, const Dependency& b) {
    if (!sameName(a.name, b.name))
        return false;
    if (a.min != 0 && b.max != 0 && a.min > b.max)
        return false;
    if (a.max != 0 && b.min != 0 && a.max < b.min)
        return false;
    return true;
}

int compareVersions(const Package& a, const Package& b) {
    if (a.version != b.version)
        return a.version > b.version ? 1 : -1;
    if (a.buildTime != b.buildTime)
        return a.buildTime > b.buildTime ? 1 : -1;
    return 0;
}

bool providesOverlap(const Package& package, const Dependency& dependency) {
    for (const Dependency& provided : package.provides)
        if (overlaps(provided, dependency))
            return true;
    return false;
}

bool dependsOn(const Package& a, const Package& b) {
    for (const Dependency& needed : a.deps)
        if (satisfies(b, needed) || providesOverlap(b, needed))
            return true;
    for (const auto& member : b.contents)
        if (dependsOn(a, *member))
            return true;
    for (const auto& member : a.contents)
        if (dependsOn(*member, b))
            return true;
    return false;
}

// The tests run in a fixed order and the first one that decides gives the answer; the
// priority tests may decide "no" before the conflicts lists are looked at.
bool conflictsWith(const Package& a, const Package& b) {
    if (a.isPlaceholder() || b.isPlaceholder())
        return false;
    for (const Dependency& conflict : a.conflicts)
        if (satisfies(b, conflict))
            return true;
    int decision = priorityDecision(a, b);
    if (decision >= 0)
        return decision == 1;
    for (const Dependency& conflict : a.conflicts)
        if (providesOverlap(b, conflict))
            return true;
    if (memberNamed(b, a.name))
        return true;
    for (const auto& member : a.contents)
        if (conflictsWith(*member, b))
            return true;
    return false;
}

bool sharesName(const Package& package, const std::string& name) {
    return sameName(package.name, name) || memberNamed(package, name) != nullptr;
}

int compareRecords(const Package& first, const Package& second) {
    const Package* a = &first;
    const Package* b = &second;
    int sign = 1;
    // Each step descends into a member, so the walk ends with the depth of the bundles.
    for (;;) {
        if (sameName(a->name, b->name))
            return sign * compareVersions(*a, *b);
        if (const Package* member = memberNamed(*a, b->name)) {
            a = member;
            continue;
        }
        const Package* member = memberNamed(*b, a->name);
        if (!member)
            return 0;
        sign = -sign;
        b = a;
        a = member;
    }
}

int compareRecordsReversed(const Package& a, const Package& b, bool reversed) {
    int order = compareRecords(a, b);
    return reversed ? -order : order;
}
