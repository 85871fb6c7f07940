// Writing the package database: entries of installed packages and their state files,
// every file created and removed through the manifest.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "pkg/database.h"
#include "pkg/meta_file.h"
#include "pkg/package_set.h"
#include "platform/device_paths.h"
#include "platform/file_checks.h"
#include "stage/commit.h"
#include "stage/file_util.h"
#include "stage/flash_path.h"
#include "stage/manifest.h"

namespace {

// Size estimates handed to the manifest, which uses them to place the temporary file.
const uint32_t VersionSize = 32;
const uint32_t ListSize = 1024;
const uint32_t BundleSize = 16;
const uint32_t FilesSize = 4096;
const uint32_t StateSize = 8;

// Flushes and closes a written file. False when the stream failed; errno then still
// tells why, whatever the close did.
bool finishFile(FdOutStream& out) {
    out.flush();
    if (out) {
        out.close();
        if (out)
            return true;
    }
    int error = errno;
    out.close();
    errno = error;
    return false;
}

// Creates path with one line of text. False when the stream failed.
bool writeLine(Manifest& manifest, const std::string& path, uint32_t size,
               const std::string& text) {
    FdOutStream out = manifest.createFile(path, size, 0);
    out << text << '\n';
    return finishFile(out);
}

// Writes the state file of a disabled package ("user" or "auto").
void writeDisabledState(const InstalledPackage& package, Manifest& manifest) {
    writeLine(manifest, join(packageDir(package), "disabled"), StateSize,
              package.userForced ? "user" : "auto");
}

// Writes a list, or stages the removal of an earlier version's list when there is none,
// so that the earlier list can't come back when the entry is read.
bool writeOptionalList(Manifest& manifest, const std::string& path,
                       const std::vector<Dependency>& list, bool withPriority) {
    if (list.empty()) {
        manifest.stageRemove(path);
        return true;
    }
    return writeList(manifest, path, list, withPriority);
}

// Writes the meta files; false after a reported failure.
bool writeMetaFiles(PackageSet& set, InstalledPackage& package, Manifest& manifest) {
    std::string dir = packageDir(package);
    std::string version = std::to_string(package.version) + " " + std::to_string(package.buildTime);
    if (!writeLine(manifest, join(dir, "version"), VersionSize, version)) {
        reportWriteFailure(set, package, "meta/version");
        return false;
    }
    if (!writeList(manifest, join(dir, "deps"), package.deps, false)) {
        reportWriteFailure(set, package, "meta/deps");
        return false;
    }
    if (!writeOptionalList(manifest, join(dir, "provides"), package.provides, true)) {
        reportWriteFailure(set, package, "meta/provides");
        return false;
    }
    if (!writeOptionalList(manifest, join(dir, "conflicts"), package.conflicts, false)) {
        reportWriteFailure(set, package, "meta/conflicts");
        return false;
    }
    if (package.bundle.name.empty()) {
        manifest.stageRemove(join(dir, "bundle"));
    } else if (!writeLine(manifest, join(dir, "bundle"), BundleSize, package.bundle.name)) {
        reportWriteFailure(set, package, "meta/bundle");
        return false;
    }
    // A bundle is read back as one by the absence of its files list.
    if (package.isBundle)
        manifest.stageRemove(join(dir, "files"));
    if (!writeFiles(package, manifest)) {
        reportWriteFailure(set, package, "meta/files");
        return false;
    }
    return true;
}

// The package that lost path: the owner of the database folder it lies in, the package
// whose image links to the boot image, or the package whose files list names it.
bool owns(const std::string& folder, const std::string& path) {
    std::string database = collapsedPath(device::Database);
    if (path.compare(0, database.size() + 1, database + "/") == 0) {
        std::string rest = path.substr(database.size() + 1);
        return rest.substr(0, rest.find('/')) == lastName(folder);
    }
    if (path == device::BootImage) {
        char target[64];
        ssize_t length = readlink((folder + "/image").c_str(), target, sizeof target);
        return length > 0 && std::string(target, size_t(length)) == device::BootImage;
    }
    MetaFile files(folder + "/files");
    std::string line;
    while (files.readLine(line))
        if (collapsedPath(device::Flash + ("/" + line)) == path)
            return true;
    return false;
}

}  // namespace

void markIncomplete(const std::vector<std::string>& lostPaths) {
    std::string real;
    FlashPaths paths;
    if (lostPaths.empty() ||
        paths.resolve(std::string(device::Database) + "x", real) != PathStatus::Ok)
        return;
    std::string database = parentDirectory(real);
    std::map<std::string, std::string> owners;  // folder to the lost paths it owns
    DIR* dir = opendir(database.c_str());
    if (dir == nullptr)
        return;
    while (dirent* entry = readdir(dir)) {
        std::string folder = database + "/" + entry->d_name;
        if (entry->d_name[0] == '.' || !isFolder(folder))
            continue;
        for (const std::string& lost : lostPaths)
            if (owns(folder, collapsedPath(lost)))
                owners[folder] += lost + "\n";
    }
    closedir(dir);
    for (const auto& [folder, text] : owners)
        replaceFileContents(folder + "/incomplete", text);
}

bool writeEntry(PackageSet& set, InstalledPackage& package, Manifest& manifest) {
    bool noMeta = (package.flags & FlagNoMeta) != 0;
    if (!package.keepImage && !noMeta && !writeMetaFiles(set, package, manifest))
        return false;
    // The image describes the package, but only the files list says what it installed.
    if (package.keepImage && !noMeta && !writeFiles(package, manifest)) {
        reportWriteFailure(set, package, "meta/files");
        return false;
    }
    std::string dir = packageDir(package);
    if (package.disabled)
        writeDisabledState(package, manifest);
    else
        manifest.stageRemove(join(dir, "disabled"));
    if (!package.disabled && package.userForced)
        writeLine(manifest, join(dir, "enabled"), StateSize, "user");
    else
        manifest.stageRemove(join(dir, "enabled"));
    // The install makes whole what an earlier commit left incomplete.
    manifest.stageRemove(join(dir, "incomplete"));
    return true;
}

bool replaceEntry(PackageSet& set, InstalledPackage& package, Manifest& manifest) {
    return prepareDir(set, package, manifest) && writeEntry(set, package, manifest);
}

// A database folder that a link or a file takes the place of is reported: the install
// can't write its entry there.
bool prepareDir(PackageSet& set, InstalledPackage& package, Manifest& manifest) {
    std::string dir = packageDir(package);
    if (manifest.keepDirectory(dir))
        return true;
    std::string real;
    errno = manifest.resolve(dir, real) == PathStatus::Outside ? EXDEV : ENOTDIR;
    reportWriteFailure(set, package, dir);
    return false;
}

bool writeList(Manifest& manifest, const std::string& path, const std::vector<Dependency>& list,
               bool withPriority) {
    FdOutStream out = manifest.createFile(path, ListSize, 0);
    for (const Dependency& entry : list) {
        out << entry.name << ' ' << entry.min << ' ' << entry.max;
        if (withPriority)
            out << ' ' << entry.priority;
        out << '\n';
    }
    return finishFile(out);
}

bool writeFiles(const InstalledPackage& package, Manifest& manifest) {
    if (package.isBundle)
        return true;
    FdOutStream out = manifest.createFile(join(packageDir(package), "files"), FilesSize, 0);
    for (std::string_view path : package.files) {
        size_t start = path.empty() || path[0] != '/' ? 0 : 1;
        if (start < path.size())
            out << path.substr(start) << '\n';
    }
    return finishFile(out);
}

void writeDisabled(InstalledPackage& package, Manifest& manifest) {
    manifest.stageRemove(join(packageDir(package), "enabled"));
    writeDisabledState(package, manifest);
    package.disabled = true;
    package.action = ScheduledAction::None;
}

void writeEnabled(InstalledPackage& package, Manifest& manifest) {
    std::string dir = packageDir(package);
    manifest.stageRemove(join(dir, "disabled"));
    if (package.userForced)
        writeLine(manifest, join(dir, "enabled"), StateSize, "user");
    else
        manifest.stageRemove(join(dir, "enabled"));
    package.disabled = false;
    package.action = ScheduledAction::None;
}

void reportWriteFailure(PackageSet& set, const InstalledPackage& package,
                        const std::string& label) {
    int error = errno;
    std::string name = displayName(package);
    if (error == ENOSPC)
        set.error("installation of %s failed: disk is too small", name.c_str());
    else if (error == EXDEV)
        set.error("installation of %s failed: %s lies behind a link that leads out of /flash",
                  name.c_str(), label.c_str());
    else if (error == EIO)
        set.error("installation of %s failed: disk error", name.c_str());
    else
        set.error("installation of %s failed: could not create %s: %s", name.c_str(), label.c_str(),
                  strerror(error));
}
