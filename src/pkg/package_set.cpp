// The one package set of the run.
#include "pkg/package_set.h"

PackageSet& PackageSet::instance() {
    // Never destroyed: records stay valid until the process ends.
    static PackageSet* set = new PackageSet;
    return *set;
}
