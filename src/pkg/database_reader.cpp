// Reading the package database at start: stored package images, meta files, state files
// and the schedule files that other software leaves under /ram/pdb/.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <memory>

#include "pkg/database.h"
#include "pkg/meta_file.h"
#include "pkg/package_header.h"
#include "pkg/package_set.h"
#include "pkgfile/package_file.h"
#include "platform/device_paths.h"
#include "platform/file_checks.h"
#include "stage/flash_path.h"

namespace {

// The parts a stored image is read for: its headers and their lists, never its files.
const std::vector<uint32_t> ImagePartTypes = {PartBundleHeader, PartPackageHeader, PartText24,
                                              PartNote,         PartDependencies,  PartProvides,
                                              PartConflicts};

// What the database folder holds besides its packages' folders.
struct Listing {
    std::vector<std::string> names;  // entries not beginning with ".", in byte order
    std::vector<std::string> links;  // entries that are links, left alone
};

// Lists the database's entries, in byte order so that every run loads (and --show lists)
// them alike. False when the folder can't be opened, or lies behind a link that leads out
// of /flash.
bool listEntries(Listing& listing) {
    std::string real;
    FlashPaths paths;
    if (paths.resolve(std::string(device::Database) + "x", real) != PathStatus::Ok)
        return false;
    std::string folder = real.substr(0, real.size() - 2);
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr)
        return false;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        struct stat st;
        bool link = fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                    S_ISLNK(st.st_mode);
        (link ? listing.links : listing.names).push_back(entry->d_name);
    }
    closedir(dir);
    std::sort(listing.names.begin(), listing.names.end());
    std::sort(listing.links.begin(), listing.links.end());
    return true;
}

std::string imagePath(const std::string& name, ImageLocation location) {
    if (location == ImageLocation::Images)
        return device::StoredImages + name;
    return std::string(device::Database) + name + "/image";
}

// Only a regular file is opened (a FIFO would block the start-up for good). An image in
// the database may be a link (to the boot image), followed only while it stays in /flash.
bool openImage(const std::string& path, std::ifstream& source) {
    std::string real = path;
    FlashPaths paths;
    if (isUnderFlash(path) && paths.follow(path, real) != PathStatus::Ok)
        return false;
    if (!isRegularFile(real, Follow::Yes))
        return false;
    source.open(real, std::ios::binary);
    return source.is_open();
}

// Reads a bundle's header and its members; members go into the set before their bundle.
// A bundle or member whose name can't build a database path leaves the whole image
// unused, so that the entries are described by their meta files instead.
void loadBundle(PackageSet& set, std::unique_ptr<InstalledPackage> bundle, PackageFile& file) {
    readPackageHeader(*bundle, file);
    if (!isSafePackageName(bundle->name))
        return;
    Dependency reference = bundleRef(*bundle);
    std::vector<std::unique_ptr<InstalledPackage>> members;
    while (file.currentType == PartPackageHeader) {
        auto member = std::make_unique<InstalledPackage>();
        // A member that can't be read leaves the file where it was: stop there rather than
        // read the same header again and again.
        if (!readPackageHeader(*member, file))
            break;
        if (!isSafePackageName(member->name))
            return;
        member->bundle = reference;
        members.push_back(std::move(member));
    }
    for (auto& member : members)
        set.packages.push_back(std::move(member));
    set.packages.push_back(std::move(bundle));
}

void loadImage(PackageSet& set, const std::string& name, const std::string& path) {
    std::ifstream source;
    if (!openImage(path, source))
        return;
    PackageFile file(source, false);
    file.acceptedTypes = ImagePartTypes;
    auto record = std::make_unique<InstalledPackage>(name);
    int type = file.nextPart();
    if (type == PartBundleHeader) {
        loadBundle(set, std::move(record), file);
        return;
    }
    // Without a package header the record stays unfilled (version 0) and is described by
    // its meta files instead.
    if (type == PartPackageHeader)
        readPackageHeader(*record, file);
    // The name builds the paths that an uninstall removes: an image naming "../x" must not
    // reach outside the database. Such an entry is described by its meta files.
    if (!isSafePackageName(record->name))
        return;
    set.packages.push_back(std::move(record));
}

bool hasPackage(const PackageSet& set, const std::string& name) {
    for (const auto& package : set.packages) {
        if (sameName(package->name, name))
            return true;
    }
    return false;
}

bool isSafeNameCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

// The package name with every character dropped that is neither a letter, a digit nor "-".
std::string scheduleName(const std::string& name) {
    std::string safe;
    for (char c : name) {
        if (isSafeNameCharacter(c))
            safe += c;
    }
    return safe;
}

// Reads the installed paths of the files list; false when there is no list.
bool readFilesList(InstalledPackage& package, const std::string& dir) {
    MetaFile files(join(dir, "files"));
    if (!files.isOpen())
        return false;
    std::string line;
    while (files.readLine(line)) {
        // A damaged list must not make an uninstall remove anything outside /flash, nor
        // name a folder; a line cut at the longest length was never written whole.
        if (!isCleanPath(line) || line.size() >= MetaFile::MaxLine)
            continue;
        if (line[0] != '/')
            line.insert(0, "/");
        package.files.insert(line);
    }
    return true;
}

// The description of a package without a stored image. Whatever can't be read marks the
// package for uninstalling; what was read stays.
void readMetaFiles(InstalledPackage& package, const std::string& dir) {
    MetaFile version(join(dir, "version"));
    if (!version.readNumber(package.version) || !version.readNumber(package.buildTime))
        package.action = ScheduledAction::Uninstall;
    // Every list is read, whichever of them is broken.
    bool listsRead = readList(join(dir, "deps"), package.deps, false);
    listsRead &= readList(join(dir, "provides"), package.provides, true);
    listsRead &= readList(join(dir, "conflicts"), package.conflicts, false);
    if (!listsRead)
        package.action = ScheduledAction::Uninstall;

    std::string bundleName;
    if (MetaFile(join(dir, "bundle")).readWord(bundleName)) {
        package.bundle = Dependency();
        package.bundle.name = bundleName;
        package.action = ScheduledAction::Uninstall;
    }

    package.isBundle = !readFilesList(package, dir);
}

// A commit cut short lost a file of the package's last install.
void readIncomplete(InstalledPackage& package, const std::string& dir) {
    package.incomplete = MetaFile(join(dir, "incomplete")).isOpen();
}

// A bundle whose member is incomplete is installed again with it.
void spreadIncomplete(PackageSet& set) {
    for (const auto& member : set.packages) {
        if (!member->incomplete || member->bundle.name.empty())
            continue;
        for (const auto& bundle : set.packages)
            if (bundle->isBundle && sameName(bundle->name, member->bundle.name))
                bundle->incomplete = true;
    }
}

void readEnabledState(InstalledPackage& package, const std::string& dir) {
    package.userForced = false;
    MetaFile disabled(join(dir, "disabled"));
    if (disabled.isOpen()) {
        package.disabled = true;
        std::string firstLine;
        disabled.readLine(firstLine);
        package.userForced = firstLine != "auto";
        return;
    }
    package.disabled = false;
    if (MetaFile(join(dir, "enabled")).isOpen())
        package.userForced = true;
}

void readSchedule(InstalledPackage& package) {
    std::string word;
    if (!MetaFile(device::Schedules + scheduleName(package.name) + "/schedule").readWord(word))
        return;
    if (word == "uninstall") {
        package.action = ScheduledAction::Uninstall;
    } else if (word == "enable") {
        package.action = ScheduledAction::Enable;
        package.userForced = true;
    } else if (word == "disable") {
        package.action = ScheduledAction::Disable;
        package.userForced = true;
    }
}

}  // namespace

void loadDatabase(PackageSet& set, bool quiet, const std::string& arch) {
    set.quiet = quiet;
    set.arch = arch;
    if (!loadImages(set, ImageLocation::Database)) {
        set.warning("could not open repo");
        return;
    }
    loadImages(set, ImageLocation::Images);
    for (const auto& package : set.packages)
        loadState(*package);

    // Entries without a readable image are described by their meta files.
    Listing listing;
    listEntries(listing);
    for (const std::string& name : listing.links)
        set.warning("broken package entry %s: it is a link", name.c_str());
    for (const std::string& name : listing.names) {
        if (hasPackage(set, name))
            continue;
        auto package = std::make_unique<InstalledPackage>(name);
        loadState(*package);
        set.packages.push_back(std::move(package));
    }
    spreadIncomplete(set);
}

bool loadImages(PackageSet& set, ImageLocation location) {
    Listing listing;
    if (!listEntries(listing))
        return false;
    // No name has a stored file in a directory that is not there: spare a failed look-up
    // per installed package.
    if (location == ImageLocation::Images && !isFolder(device::StoredImages, Follow::Yes))
        return true;
    for (const std::string& name : listing.names)
        loadImage(set, name, imagePath(name, location));
    return true;
}

void loadState(InstalledPackage& package) {
    std::string dir = packageDir(package);
    if (package.version == 0)
        readMetaFiles(package, dir);
    else if (!package.isBundle)
        // A package described by its image still has its installed files listed, so
        // that uninstalling or replacing it removes them.
        readFilesList(package, dir);
    readEnabledState(package, dir);
    readIncomplete(package, dir);
    if (package.isPlaceholder())
        return;
    readSchedule(package);
}

bool readList(const std::string& path, std::vector<Dependency>& list, bool withPriority) {
    MetaFile file(path);
    Dependency entry;
    while (file.readWord(entry.name)) {
        if (!file.readNumber(entry.min) || !file.readNumber(entry.max))
            return false;
        entry.priority = 0;
        if (withPriority && !file.readNumber(entry.priority))
            return false;
        list.push_back(entry);
    }
    return true;
}
