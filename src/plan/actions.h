// Enable, disable and uninstall: making the scheduled actions of the installed packages
// consistent, and carrying them out through the manifest.
#pragma once

#include <list>
#include <unordered_map>
#include <vector>

#include "pkg/package.h"
#include "plan/package_index.h"

class Manifest;
class PackageSet;

// Records of the set to disable, uninstall or enable, in the order to do it. Not owned.
using RecordList = std::list<InstalledPackage*>;

// How the candidates of one dependency stand after the run.
enum class DependencyState {
    Satisfied,      // some candidate is active
    Enableable,     // none is active, but some is disabled or about to be disabled
    Unsatisfiable,  // neither: no candidate, or only enabled ones that are being uninstalled
};

DependencyState dependencyState(const std::vector<InstalledPackage*>& candidates);

// What the planning and carrying out of actions prints.
enum class Verbosity {
    Silent,    // nothing
    Normal,    // the enables, disables and planning messages
    Detailed,  // those and the uninstalls
};

// Plans the scheduled actions and carries them out, staged in manifest. True when the
// plan was accepted and changed some record.
bool applyScheduledActions(PackageSet& set, Manifest& manifest, Verbosity verbosity);

// Makes the actions of the set consistent and appends the records to disable or uninstall
// (set order) and those to enable (install order) to the lists. False, with every action
// cleared, when the plan would leave no package wanted.
bool planActions(PackageSet& set, RecordList& removals, RecordList& enables, Verbosity verbosity);

// Uninstalls or disables the records of list in its order and empties list. Uninstalled
// records leave the set and are destroyed.
void applyRemovals(PackageSet& set, Manifest& manifest, RecordList& list, Verbosity verbosity);
// Enables the records of list in its order.
void applyEnables(PackageSet& set, Manifest& manifest, const RecordList& list, Verbosity verbosity);

// The passes of planActions over one set whose records do not change in number.
class ActionPlanner {
  public:
    ActionPlanner(PackageSet& set, Verbosity verbosity);

    // Members follow the disable, uninstall or enable of their bundle.
    void propagateBundleActions();
    // What a wanted record needs (its bundle, a candidate of each dependency) stays or
    // becomes active.
    void ensureDependencies(InstalledPackage& package);
    // needed is needed by dependent: a scheduled uninstall or disable of it is cancelled,
    // a disabled one is enabled.
    void activateFor(InstalledPackage& needed, InstalledPackage& dependent);
    // Active records that a wanted record displaces are disabled; an enable that loses
    // against another enable is cancelled.
    void resolveConflicts(InstalledPackage& package);
    // Records whose dependencies can't be met are disabled or uninstalled, until nothing
    // changes.
    void dropDependents();
    // Bundles without an active member are uninstalled (or stay disabled).
    void reconcileBundles();

  private:
    std::vector<InstalledPackage*> candidatesOf(const Dependency& dependency) const;
    void setAction(InstalledPackage& package, ScheduledAction action);
    bool dropOnce(InstalledPackage& package, const std::vector<Positions>& candidates);

    PackageSet& set;
    Verbosity verbosity;
    PackageIndex packages;
    // Counts the action changes of ensureDependencies, and remembers per record the count
    // at its innermost open ensureDependencies call.
    uint64_t changes = 0;
    std::unordered_map<const InstalledPackage*, uint64_t> openCalls;
};
