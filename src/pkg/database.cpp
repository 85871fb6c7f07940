// Paths and references of the package database shared by its reader and writer.
#include "pkg/database.h"

#include "pkg/package.h"

std::string packageDir(const Package& package) {
    return "/flash/var/pdb/" + package.name + "/";
}

std::string join(const std::string& directory, const std::string& file) {
    return directory + file;
}

Dependency bundleRef(const Package& bundle) {
    Dependency reference;
    reference.name = bundle.name;
    reference.min = bundle.version;
    reference.max = bundle.version;
    return reference;
}

std::string displayName(const InstalledPackage& package) {
    if (!package.bundle.name.empty())
        return dependencyText(package.bundle);
    return packageText(package);
}
