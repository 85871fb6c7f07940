// The upgrade run, the cleanup selection and the post-install log.
#include "driver/upgrade_run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <vector>

#include "pkg/database.h"
#include "pkg/package_finder.h"
#include "plan/actions.h"
#include "plan/install_driver.h"
#include "plan/lookup.h"
#include "platform/device_paths.h"
#include "platform/fd_stream.h"
#include "platform/file_checks.h"
#include "stage/file_util.h"
#include "stage/manifest.h"

namespace {

constexpr Version CleanupSystemFloor = 0x031665FF;
constexpr size_t PostLogRoom = 4096;

bool postLogPrepared = false;
// The post-install log lies behind a link that leads out of /flash: it is not written.
bool postLogRefused = false;
// The new log, under its temporary name, holding its room on flash since the preparation.
std::unique_ptr<AtomicFile> postLogFile;

// The floor of a downgrade run, from /ram/DOWNGRADE: 0 when it holds no number. False
// when the file is absent (no downgrade run).
bool readDowngradeFloor(Version& floor) {
    std::ifstream in(device::DowngradeMarker);
    if (!in.is_open())
        return false;
    unsigned long long number = 0;
    if (!(in >> number) || number > 0xFFFFFFFFull)
        number = 0;
    floor = Version(number);
    return true;
}

// The download directory first (unless marked to be ignored), then the flash ones.
void collectPackageFiles(PackageSet& set, CandidateList& files) {
    if (!exists(device::DownloadIgnoreMarker, Follow::Yes))
        findPackageFiles(set, device::DownloadDir, files);
    if (files.empty())
        findPackageFiles(set, device::FlashPackageDir, files);
    if (files.empty())
        findPackageFiles(set, device::FlashVarPackageDir, files);
}

RememberedStates rememberStates(const PackageSet& set) {
    RememberedStates states;
    for (const auto& record : set.packages)
        if (record->userForced)
            states.emplace(record->name, record->disabled);  // the first record counts
    return states;
}

std::set<std::string> enabledNames(const PackageSet& set) {
    std::set<std::string> names;
    for (const auto& record : set.packages) {
        if (record->disabled)
            continue;
        names.insert(record->name);
        for (const Dependency& provided : record->provides)
            names.insert(provided.name);
    }
    return names;
}

// Enables again what was enabled before the run and lost its enabled provider.
void enableAgain(PackageSet& set, Manifest& manifest, const std::set<std::string>& names) {
    RecordList toEnable;
    for (const std::string& name : names) {
        InstalledPackage* package = findPackageOrProvider(set, name);
        if (package == nullptr || !package->disabled || findConflicting(set, *package))
            continue;
        // A package found under two names is enabled once.
        if (std::find(toEnable.begin(), toEnable.end(), package) == toEnable.end())
            toEnable.push_back(package);
    }
    applyEnables(set, manifest, toEnable, Verbosity::Normal);
}

bool keptByCleanup(const InstalledPackage& package) {
    if (package.name == "system" || package.name == "quendle" || package.name == "disk-drivers")
        return true;
    if (package.isBundle)
        return true;
    for (const Dependency& dep : package.deps)
        if (dep.name == "system" && dep.min > CleanupSystemFloor)
            return true;
    return false;
}

// The log's path through real folders, following a link that stays under /flash; a link
// that leads out of it is refused with an error line, once.
bool postLogPath(PackageSet& set, std::string& real) {
    if (postLogRefused)
        return false;
    FlashPaths paths;
    PathStatus status = paths.follow(device::PostLog, real);
    if (status == PathStatus::Ok)
        return true;
    postLogRefused = true;
    if (status == PathStatus::Outside)
        set.error("could not write %s: it is a link that leads out of /flash", device::PostLog);
    else
        set.error("could not write %s: %s", device::PostLog, strerror(errorNumberOf(status)));
    return false;
}

}  // namespace

void runUpgrade(PackageSet& set, Manifest& manifest, InstallFlags flags) {
    Version floor = NoFloor;
    if (readDowngradeFloor(floor))
        flags |= InstallFlag::Downgrade;

    CandidateList files;
    collectPackageFiles(set, files);
    PackageList order;
    for (const auto& file : files)
        order.push_back(file.get());
    selectAndOrder(set, order, floor, true);

    RememberedStates remembered = rememberStates(set);
    std::set<std::string> enabled = enabledNames(set);
    if (!order.empty())
        preparePostLog(set);

    for (Package* entry : order) {
        const CandidatePackage& file = static_cast<const CandidatePackage&>(*entry);
        int fd = open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        // Read in large blocks: the whole file passes through once.
        FdStreamBuf source(fd, true);
        std::istream in(&source);
        bool bootImage = false;
        InstallRequest request;
        request.flags = flags;
        request.remembered = &remembered;
        request.bootImage = &bootImage;
        InstallResult result = installFromStream(set, manifest, in, request);
        // One refused package drops the whole run, scheduled actions included.
        if (result != InstallResult::Ok) {
            manifest.discard();
            return;
        }
        if (file.keepImage)
            stageImage(manifest, file.path, packageDir(file), bootImage);
    }
    enableAgain(set, manifest, enabled);
    if (set.packages.empty()) {
        set.error("router installation failed!!!");
        manifest.discard();
    }
}

void selectForCleanup(PackageSet& set, Manifest& manifest) {
    applyScheduledActions(set, manifest, Verbosity::Silent);
    for (const auto& package : set.packages)
        if (!keptByCleanup(*package))
            package->action = ScheduledAction::Uninstall;
    applyScheduledActions(set, manifest, Verbosity::Normal);
}

void stageImage(Manifest& manifest, const std::string& file, const std::string& databaseDir,
                bool bootImage) {
    if (databaseDir.empty()) {
        manifest.stageRemove(file);
        return;
    }
    std::string imagePath = join(databaseDir, "image");
    if (bootImage) {
        manifest.stageMove(file, device::BootImage);
        manifest.stageLink(device::BootImage, imagePath);
    } else {
        manifest.stageMove(file, imagePath);
    }
}

void preparePostLog(PackageSet& set) {
    postLogPrepared = true;
    std::string real;
    if (!postLogPath(set, real))
        return;
    std::ifstream old(real, std::ios::binary);
    if (old.is_open()) {
        std::string line;
        // A last line without its line feed was cut short: drop it.
        while (std::getline(old, line) && !old.eof())
            set.log.push_back(line);
    }
    // The new log is built beside the old one, which stays whole until it is replaced;
    // its room is taken now, before the upgrade fills the flash.
    postLogFile = std::make_unique<AtomicFile>(real);
    postLogFile->write(std::string(PostLogRoom, '\0'));
}

void writePostLog(PackageSet& set) {
    std::string real;
    if ((!postLogPrepared && set.log.empty()) || !postLogPath(set, real))
        return;
    std::unique_ptr<AtomicFile> out = std::move(postLogFile);
    if (out) {
        out->rewind();
    } else if (postLogPrepared) {
        out = std::make_unique<AtomicFile>(real);
    } else {
        // Not prepared: the lines are added to those already there.
        out = std::make_unique<AtomicFile>(real);
        std::ifstream old(real, std::ios::binary);
        std::string line;
        while (std::getline(old, line))
            out->write(line + (old.eof() ? "" : "\n"));
    }
    for (const std::string& line : set.log)
        out->write(line + "\n");
    out->commit();
}
