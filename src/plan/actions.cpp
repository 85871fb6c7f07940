// Enable, disable and uninstall: planning the scheduled actions and carrying them out.
#include "plan/actions.h"

#include <algorithm>
#include <set>

#include "pkg/database.h"
#include "pkg/package_set.h"
#include "plan/lookup.h"
#include "platform/board.h"

namespace {

bool isRemoval(ScheduledAction action) {
    return action == ScheduledAction::Uninstall || action == ScheduledAction::Disable;
}

// Installed but inactive after the run, without being removed.
bool staysInactive(const InstalledPackage& member) {
    if (member.disabled)
        return member.action == ScheduledAction::None || member.action == ScheduledAction::Disable;
    return member.action == ScheduledAction::Disable;
}

bool anyWanted(const PackageSet& set) {
    for (const auto& package : set.packages)
        if (package->isWanted())
            return true;
    return false;
}

// The enable list in install order: what others need first, one record per name.
void orderEnables(PackageSet& set, RecordList& enables) {
    PackageList ordered(enables.begin(), enables.end());
    selectAndOrder(set, ordered, NoFloor, false);
    enables.clear();
    for (Package* package : ordered)
        enables.push_back(static_cast<InstalledPackage*>(package));
}

void uninstall(PackageSet& set, Manifest& manifest, InstalledPackage* package,
               Verbosity verbosity) {
    std::string text = packageText(*package);
    if (verbosity == Verbosity::Detailed)
        set.setStatus("uninstalling " + text + "...");
    removePackage(*package, manifest);
    // The set is the record's one owner: taking it out destroys it. Found by identity,
    // as another record may carry the same name.
    for (auto record = set.packages.begin(); record != set.packages.end(); ++record) {
        if (record->get() == package) {
            set.packages.erase(record);
            break;
        }
    }
    if (verbosity == Verbosity::Detailed)
        set.info("uninstalled %s", text.c_str());
}

void disable(PackageSet& set, Manifest& manifest, InstalledPackage& package, Verbosity verbosity) {
    std::string text = packageText(package);
    if (verbosity != Verbosity::Silent)
        set.setStatus("disabling " + text + "...");
    writeDisabled(package, manifest);
    if (verbosity != Verbosity::Silent)
        set.info("disabled %s", text.c_str());
}

}  // namespace

DependencyState dependencyState(const std::vector<InstalledPackage*>& candidates) {
    bool enableable = false;
    for (const InstalledPackage* candidate : candidates) {
        if (candidate->isWanted())
            return DependencyState::Satisfied;
        if (candidate->disabled || candidate->action == ScheduledAction::Disable)
            enableable = true;
    }
    return enableable ? DependencyState::Enableable : DependencyState::Unsatisfiable;
}

bool applyScheduledActions(PackageSet& set, Manifest& manifest, Verbosity verbosity) {
    RecordList removals;
    RecordList enables;
    if (!planActions(set, removals, enables, verbosity))
        return false;
    bool changed = !removals.empty() || !enables.empty();
    // Removals first, so that displaced packages are disabled before the packages that
    // displace them are enabled. Uninstalled records are destroyed there; none of them is
    // in the enable list.
    applyRemovals(set, manifest, removals, verbosity);
    applyEnables(set, manifest, enables, verbosity);
    return changed;
}

bool planActions(PackageSet& set, RecordList& removals, RecordList& enables, Verbosity verbosity) {
    {
        ActionPlanner planner(set, verbosity);
        planner.propagateBundleActions();
        for (const auto& package : set.packages)
            if (package->isWanted())
                planner.ensureDependencies(*package);
        for (const auto& package : set.packages)
            if (package->isWanted())
                planner.resolveConflicts(*package);
        planner.dropDependents();
        planner.reconcileBundles();
    }
    if (!set.packages.empty() && !anyWanted(set)) {
        for (const auto& package : set.packages)
            package->action = ScheduledAction::None;
        if (verbosity != Verbosity::Silent)
            set.error("can not uninstall or disable all packages");
        return false;
    }
    RecordList planned;
    RecordList enabling;
    for (const auto& package : set.packages) {
        if (isRemoval(package->action))
            planned.push_back(package.get());
        else if (package->action == ScheduledAction::Enable)
            enabling.push_back(package.get());
    }
    orderEnables(set, enabling);
    removals.splice(removals.end(), planned);
    enables.splice(enables.end(), enabling);
    return true;
}

void applyRemovals(PackageSet& set, Manifest& manifest, RecordList& list, Verbosity verbosity) {
    for (InstalledPackage* package : list) {
        if (package->action == ScheduledAction::Uninstall)
            uninstall(set, manifest, package, verbosity);
        else if (package->action == ScheduledAction::Disable)
            disable(set, manifest, *package, verbosity);
    }
    // Some of the records are destroyed now.
    list.clear();
}

void applyEnables(PackageSet& set, Manifest& manifest, const RecordList& list,
                  Verbosity verbosity) {
    for (InstalledPackage* package : list) {
        std::string text = packageText(*package);
        if (verbosity != Verbosity::Silent)
            set.setStatus("enabling " + text + "...");
        writeEnabled(*package, manifest);
        if (verbosity != Verbosity::Silent)
            set.info("enabled %s", text.c_str());
    }
}

ActionPlanner::ActionPlanner(PackageSet& set, Verbosity verbosity)
    : set(set), verbosity(verbosity), packages(set) {}

std::vector<InstalledPackage*> ActionPlanner::candidatesOf(const Dependency& dependency) const {
    std::vector<InstalledPackage*> candidates;
    for (size_t position : packages.satisfying(dependency, true))
        candidates.push_back(&packages.at(position));
    return candidates;
}

void ActionPlanner::setAction(InstalledPackage& package, ScheduledAction action) {
    if (package.action == action)
        return;
    package.action = action;
    ++changes;
}

void ActionPlanner::propagateBundleActions() {
    for (size_t i = 0; i < packages.size(); ++i) {
        InstalledPackage& member = packages.at(i);
        if (member.bundle.name.empty() || member.isPlaceholder())
            continue;
        const InstalledPackage* bundle = packages.find(member.bundle.name);
        if (!bundle || bundle->isPlaceholder())
            continue;
        switch (bundle->action) {
            case ScheduledAction::Disable:
                if (member.action != ScheduledAction::Uninstall)
                    member.action = ScheduledAction::Disable;
                break;
            case ScheduledAction::Uninstall:
                member.action = ScheduledAction::Uninstall;
                break;
            case ScheduledAction::Enable:
                if (member.disabled)
                    member.action = ScheduledAction::Enable;
                break;
            case ScheduledAction::None:
                break;
        }
    }
}

void ActionPlanner::ensureDependencies(InstalledPackage& package) {
    // A call for a record whose own call is still open, with no action changed since it
    // opened, would repeat that call for ever (bundle references that form a cycle in a
    // broken database). Every other call runs as it comes.
    auto open = openCalls.find(&package);
    if (open != openCalls.end() && open->second == changes)
        return;
    bool wasOpen = open != openCalls.end();
    uint64_t outerCount = wasOpen ? open->second : 0;
    openCalls[&package] = changes;

    if (!package.bundle.name.empty() && !package.isPlaceholder()) {
        InstalledPackage* bundle = packages.find(package.bundle.name);
        if (bundle && !bundle->isPlaceholder())
            activateFor(*bundle, package);
    }
    for (const Dependency& needed : package.deps) {
        std::vector<InstalledPackage*> candidates = candidatesOf(needed);
        if (dependencyState(candidates) == DependencyState::Satisfied)
            continue;
        // dropDependents deals with a record whose dependency has no candidate at all.
        if (candidates.empty())
            break;
        PackageList choice(candidates.begin(), candidates.end());
        selectAndOrder(set, choice, NoFloor, false);
        if (!choice.empty())
            activateFor(*static_cast<InstalledPackage*>(choice.back()), package);
    }

    if (wasOpen)
        openCalls[&package] = outerCount;
    else
        openCalls.erase(&package);
}

void ActionPlanner::activateFor(InstalledPackage& needed, InstalledPackage& dependent) {
    if (isRemoval(needed.action)) {
        if (verbosity != Verbosity::Silent)
            set.warning("can not %s %s: %s depends on it", actionWord(needed.action),
                        packageText(needed).c_str(), dependent.name.c_str());
        setAction(needed, ScheduledAction::None);
        ensureDependencies(needed);
        return;
    }
    if (!needed.disabled)
        return;
    setAction(needed, ScheduledAction::Enable);
    ensureDependencies(needed);
}

void ActionPlanner::resolveConflicts(InstalledPackage& package) {
    bool enabling = package.action == ScheduledAction::Enable;
    Positions others = packages.mayBeDisplacedBy(package);
    if (enabling) {
        Positions displacers = packages.mayDisplace(package);
        others.insert(others.end(), displacers.begin(), displacers.end());
        std::sort(others.begin(), others.end());
        others.erase(std::unique(others.begin(), others.end()), others.end());
    }
    for (size_t position : others) {
        InstalledPackage& other = packages.at(position);
        if (&other == &package || !other.isWanted())
            continue;
        if (conflictsWith(package, other)) {
            if (other.action == ScheduledAction::None)
                other.action = ScheduledAction::Disable;
            continue;
        }
        if (!enabling || !conflictsWith(other, package))
            continue;
        if (other.action == ScheduledAction::None) {
            other.action = ScheduledAction::Disable;
            continue;
        }
        // Both are being enabled and the other displaces this one: this enable loses.
        if (verbosity != Verbosity::Silent)
            set.warning("can not enable %s: %s conflicts with it", package.name.c_str(),
                        packageText(other).c_str());
        package.action = ScheduledAction::None;
        return;
    }
}

// One pass over one record: its first dependency that forces a change makes it. True
// when the action changed.
bool ActionPlanner::dropOnce(InstalledPackage& package, const std::vector<Positions>& candidates) {
    for (const Positions& positions : candidates) {
        std::vector<InstalledPackage*> records;
        for (size_t position : positions)
            records.push_back(&packages.at(position));
        switch (dependencyState(records)) {
            case DependencyState::Unsatisfiable:
                if (package.action == ScheduledAction::Uninstall)
                    break;
                package.action = ScheduledAction::Uninstall;
                return true;
            case DependencyState::Enableable:
                if (isRemoval(package.action) ||
                    (package.disabled && package.action == ScheduledAction::None))
                    break;
                package.action = ScheduledAction::Disable;
                return true;
            case DependencyState::Satisfied:
                break;
        }
    }
    return false;
}

// Each change restarts from the first record whose outcome it can alter: the record
// itself and the records that have it among the candidates of a dependency. A record
// that nothing touched since it was last looked at would make no change, so the order
// and result of the changes are those of restarting the whole walk from the first
// record after each change. An action only moves to uninstall, or to disable from none
// or enable, so the walk ends.
void ActionPlanner::dropDependents() {
    size_t count = packages.size();
    std::vector<std::vector<Positions>> candidates(count);
    std::vector<Positions> dependents(count);
    for (size_t i = 0; i < count; ++i) {
        for (const Dependency& needed : packages.at(i).deps) {
            candidates[i].push_back(packages.satisfying(needed, true));
            for (size_t candidate : candidates[i].back())
                if (dependents[candidate].empty() || dependents[candidate].back() != i)
                    dependents[candidate].push_back(i);
        }
    }
    std::set<size_t> pending;
    for (size_t i = 0; i < count; ++i)
        pending.insert(pending.end(), i);
    while (!pending.empty()) {
        size_t first = *pending.begin();
        pending.erase(pending.begin());
        if (!dropOnce(packages.at(first), candidates[first]))
            continue;
        pending.insert(first);
        pending.insert(dependents[first].begin(), dependents[first].end());
    }
}

void ActionPlanner::reconcileBundles() {
    for (size_t i = 0; i < packages.size(); ++i) {
        InstalledPackage& bundle = packages.at(i);
        if (!bundle.isBundle || bundle.action == ScheduledAction::Uninstall ||
            bundle.isPlaceholder())
            continue;
        bool activeMember = false;
        bool inactiveMember = false;
        for (size_t position : packages.membersOf(bundle.name)) {
            const InstalledPackage& member = packages.at(position);
            if (member.isPlaceholder())
                continue;
            if (member.isWanted()) {
                activeMember = true;
                break;
            }
            if (staysInactive(member))
                inactiveMember = true;
        }
        if (activeMember)
            continue;
        if (!inactiveMember || !bundle.disabled)
            bundle.action = ScheduledAction::Uninstall;
        else if (bundle.action == ScheduledAction::Enable)
            bundle.action = ScheduledAction::None;
    }
}
