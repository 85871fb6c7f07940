// Finding the package files that wait in a directory.
#include "pkg/package_finder.h"

#include <dirent.h>

#include "pkg/package_header.h"
#include "pkg/package_set.h"
#include "pkgfile/package_file.h"

namespace {

bool hasPackageExtension(const std::string& path) {
    if (path.size() < 4)
        return false;
    std::string tail = path.substr(path.size() - 4);
    return tail == ".npk" || tail == ".dpk";
}

}  // namespace

void findPackageFiles(PackageSet& set, const std::string& directory, CandidateList& list) {
    DIR* dir = opendir(directory.c_str());
    if (dir == nullptr)
        return;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name.empty() || name[0] == '.')
            continue;
        std::string path = directory + name;
        if (!hasPackageExtension(path))
            continue;
        auto record = std::make_unique<CandidatePackage>();
        if (readPackageInfo(*record, path))
            list.push_back(std::move(record));
        else
            set.error("broken package %s", name.c_str());
    }
    closedir(dir);
}
