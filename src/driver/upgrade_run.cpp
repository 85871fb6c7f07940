// The upgrade run, the cleanup selection and the post-install log.
#include "driver/upgrade_run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>
#include <vector>

#include "pkgfile/package_finder.h"
#include "plan/actions.h"
#include "plan/install_driver.h"
#include "plan/lookup.h"
#include "stage/manifest.h"

namespace {

const char DowngradeFile[] = "/ram/DOWNGRADE";
const char IgnoreMarker[] = "/rw/pckg/.download/IGNORE";
const char PostLog[] = "/flash/postlog";
constexpr Version CleanupSystemFloor = 0x031665FF;

bool postLogPrepared = false;

bool pathExists(const char* path) {
    struct stat st;
    return stat(path, &st) == 0;
}

// The floor of a downgrade run, from /ram/DOWNGRADE: 0 when it holds no number. False
// when the file is absent (no downgrade run).
bool readDowngradeFloor(Version& floor) {
    std::ifstream in(DowngradeFile);
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
    if (!pathExists(IgnoreMarker))
        findPackageFiles(set, "/rw/pckg/.download/", files);
    if (files.empty())
        findPackageFiles(set, "/flash/rw/pckg/", files);
    if (files.empty())
        findPackageFiles(set, "/flash/var/pckg/", files);
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

// The package file becomes the package's database image (or the boot image, with a link
// to it from the database) when the commit moves it.
void keepImage(Manifest& manifest, const CandidatePackage& file, bool bootImage) {
    std::string imagePath = "/flash/var/pdb/" + file.name + "/image";
    if (bootImage) {
        manifest.stageMove(file.path, "/flash/bootimage");
        manifest.stageLink("/flash/bootimage", imagePath);
    } else {
        manifest.stageMove(file.path, imagePath);
    }
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
    applyEnables(set, manifest, toEnable, 1);
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
        std::ifstream in(file.path, std::ios::binary);
        if (!in.is_open())
            continue;
        bool bootImage = false;
        int result =
            installFromStream(set, manifest, in, flags, remembered, nullptr, nullptr, &bootImage);
        in.close();
        // One refused package drops the whole run, scheduled actions included.
        if (result != InstallOk) {
            manifest.discard();
            return;
        }
        if (file.keepImage)
            keepImage(manifest, file, bootImage);
    }
    enableAgain(set, manifest, enabled);
    if (set.packages.empty()) {
        set.error("router installation failed!!!");
        manifest.discard();
    }
}

void selectForCleanup(PackageSet& set, Manifest& manifest) {
    applyScheduledActions(set, manifest, 0);
    for (const auto& package : set.packages)
        if (!keptByCleanup(*package))
            package->action = ScheduledAction::Uninstall;
    applyScheduledActions(set, manifest, 1);
}

void preparePostLog(PackageSet& set) {
    std::ifstream old(PostLog, std::ios::binary);
    if (old.is_open()) {
        std::string line;
        // A last line without its line feed was cut short by a power cut: drop it.
        while (std::getline(old, line) && !old.eof())
            set.log.push_back(line);
        old.close();
    }
    std::ofstream reserve(PostLog, std::ios::binary | std::ios::trunc);
    reserve << std::string(4096, '\0');
    reserve.close();
    postLogPrepared = true;
}

void writePostLog(PackageSet& set) {
    if (!postLogPrepared && set.log.empty())
        return;
    std::ofstream out(PostLog,
                      std::ios::binary | (postLogPrepared ? std::ios::trunc : std::ios::app));
    sync();
    for (const std::string& line : set.log)
        out << line << '\n';
    out.close();
}
