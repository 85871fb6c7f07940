// Install driver: checks an offered package against the installed ones and installs it
// in place of the older version, as a plain package or as a bundle of members.
#include "plan/install_driver.h"

#include <memory>
#include <set>
#include <vector>

#include "pkg/database.h"
#include "pkg/package_header.h"
#include "pkgfile/package_file.h"
#include "pkgfile/signature.h"
#include "plan/actions.h"
#include "plan/install_check.h"
#include "plan/lookup.h"
#include "plan/unpack.h"
#include "platform/board.h"
#include "stage/manifest.h"

namespace {

constexpr InstallFlags Everything = 0xFFFFFFFF;

const RememberedStates& rememberedOf(const InstallRequest& request) {
    static const RememberedStates none;
    return request.remembered ? *request.remembered : none;
}

void dropRecord(PackageSet& set, int index) {
    set.packages.erase(set.packages.begin() + index);
}

// A record that displaces every package of one name, so that a bundle's blocked member
// is installed disabled. It is never written to the database.
std::unique_ptr<InstalledPackage> blockerFor(const std::string& name) {
    auto blocker = std::make_unique<InstalledPackage>();
    Dependency conflict;
    conflict.name = name;
    blocker->conflicts.push_back(conflict);
    return blocker;
}

// "installation of %s failed: broken package", named as the bundle's members are.
void reportBrokenBundle(PackageSet& set, const Dependency& reference) {
    set.error("installation of %s failed: broken package", dependencyText(reference).c_str());
}

// A package passed over without being installed whose file may still take a good image's
// place: reads on to its signature part and checks the level its name and version need,
// reporting a broken package when it falls short.
bool passedOverIsSigned(PackageSet& set, const InstalledPackage& package, PackageFile& file) {
    while (file.currentType != PartSignature && file.currentType != PartEnd &&
           file.currentType != PartPackageHeader)
        file.nextPart();
    if (file.currentType == PartSignature &&
        file.verify() >= requiredSignatureLevel(package.name, package.version))
        return true;
    reportBrokenPackage(set, package);
    return false;
}

// A bundle member that is not installed: its parts up to the next member are passed over.
// Its signature is still checked, since the bundle file may be kept as the image that
// describes the members.
bool passOverMember(PackageSet& set, const InstalledPackage& member, PackageFile& file) {
    if (!passedOverIsSigned(set, member, file))
        return false;
    while (file.good() && file.currentType != PartPackageHeader)
        file.nextPart();
    return true;
}

// The installed record stays when the same version is offered again.
bool keepInstalled(PackageSet& set, const InstalledPackage& offered, InstallFlags flags,
                   InstallFlags found, bool* bootImage, std::string* installedName) {
    InstalledPackage* installed = findPackage(set, offered.name);
    if ((found & InstallFlag::Reinstall) && (flags & InstallFlag::Reinstall)) {
        set.setStatus(std::string(78, ' '));
        set.setStatus(std::string());
        set.info("installed %s%s", offered.disabled ? "(disabled) " : "",
                 packageText(offered).c_str());
        if (bootImage && installed)
            *bootImage = (installed->flags & FlagBootImage) != 0;
    }
    if (installed == nullptr)
        return false;
    if (installedName)
        *installedName = installed->name;
    return true;
}

// A package passed over as already installed has read only its header parts; when its
// copy is kept as the image, the rest of the file is read through so that the copy is
// whole (an image cut short would replace a good one).
bool copyPassedOver(PackageSet& set, PackageFile& file, const std::string& name,
                    const std::string* databaseDir) {
    while (file.nextPart() != PartEnd) {
    }
    InstalledPackage* installed = findPackage(set, name);
    if (databaseDir == nullptr || databaseDir->empty() || installed == nullptr)
        return true;
    InstalledPackage shown(installed->name, installed->version);
    shown.keepImage = true;
    return imageCopyIsWhole(set, shown, file);
}

}  // namespace

bool removeInstalled(PackageSet& set, Manifest& manifest, const std::string& name) {
    int index = indexOfPackage(set, name);
    if (index < 0)
        return false;
    removePackage(*set.packages[index], manifest);
    dropRecord(set, index);
    return true;
}

bool installPackage(PackageSet& set, Manifest& manifest, PackageFile& file,
                    const InstallRequest& request, const Dependency* bundle,
                    std::string* installedName) {
    const InstallFlags flags = request.flags;
    std::string* databaseDir = bundle ? nullptr : request.databaseDir;
    bool* bootImage = request.bootImage;
    auto package = std::make_unique<InstalledPackage>();
    if (!readPackageHeader(*package, file))
        return false;
    if (bundle && sameName(package->name, bundle->name)) {
        package->bundle = *bundle;
        reportBrokenPackage(set, *package);
        return false;
    }
    if (package->keepImage && databaseDir)
        *databaseDir = packageDir(*package);

    InstallFlags tolerated = bundle ? Everything : (flags | InstallFlag::Conflict);
    InstallFlags found = checkInstall(set, *package, tolerated);
    const RememberedStates& remembered = rememberedOf(request);
    auto state = remembered.find(package->name);
    if (state != remembered.end()) {
        package->disabled = state->second;
        package->userForced = true;
    } else {
        package->disabled = false;
    }
    if (found & InstallFlag::Conflict) {
        found &= ~InstallFlag::Conflict;
        package->disabled = true;
    }
    if ((found & InstallFlag::Reinstall) || (found & ~flags)) {
        if (bundle) {
            package->bundle = *bundle;
            if (!passOverMember(set, *package, file))
                return false;
            InstalledPackage* installed = findPackage(set, package->name);
            if (installed && installedName)
                *installedName = installed->name;
            return installed != nullptr;
        }
        // A file kept as the stored or boot image is checked even when nothing is installed
        // from it: an unchecked file must not take a good image's place.
        if ((found & InstallFlag::Reinstall) && package->keepImage &&
            !passedOverIsSigned(set, *package, file))
            return false;
        if (found & InstallFlag::Reinstall)
            return keepInstalled(set, *package, flags, found, bootImage, installedName);
        return false;
    }
    if (bundle)
        package->bundle = *bundle;

    // An unrecorded package leaves the installed version's files alone.
    if (!file.isUnrecorded()) {
        int index = indexOfPackage(set, package->name);
        if (index >= 0) {
            removePackage(*set.packages[index], manifest);
            dropRecord(set, index);
        }
    }
    if (!installPackageStream(set, *package, manifest, file))
        return false;

    // The planning below may uninstall and destroy the new record: keep what is needed.
    std::string name = package->name;
    uint32_t packageFlags = package->flags;
    set.packages.push_back(std::move(package));
    applyScheduledActions(set, manifest, Verbosity::Silent);
    if (bootImage)
        *bootImage = (packageFlags & FlagBootImage) && bootImageRequested();
    if (installedName)
        *installedName = name;
    return true;
}

InstallResult installBundle(PackageSet& set, Manifest& manifest, PackageFile& file,
                            const InstallRequest& request) {
    const InstallFlags flags = request.flags;
    std::string* databaseDir = request.databaseDir;
    bool* bootImage = request.bootImage;
    if (bootImage)
        *bootImage = false;
    auto bundle = std::make_unique<InstalledPackage>();
    if (!readPackageHeader(*bundle, file))
        return InstallResult::Failed;
    if (!isSafePackageName(bundle->name)) {
        reportBrokenPackage(set, *bundle);
        return InstallResult::Failed;
    }
    // The structural faults of a bundle file below would otherwise leave the user with no
    // word of why nothing was installed.
    if (!bundle->deps.empty() || !bundle->provides.empty() || !bundle->conflicts.empty()) {
        reportBrokenPackage(set, *bundle);
        return InstallResult::Failed;
    }
    if (file.currentType == PartImage)
        file.nextPart();
    if (bundle->keepImage && databaseDir)
        *databaseDir = packageDir(*bundle);
    if (checkInstall(set, *bundle, flags) & ~flags)
        return InstallResult::Refused;

    removeInstalled(set, manifest, bundle->name);
    if (!replaceEntry(set, *bundle, manifest))
        return InstallResult::Failed;
    // Planning during the members' installs may drop the bundle record: work on copies.
    const Dependency reference = bundleRef(*bundle);
    InstalledPackage shown(reference.name, reference.min);
    shown.keepImage = bundle->keepImage;
    int index = indexOfPackage(set, reference.name);
    if (index >= 0)
        dropRecord(set, index);
    set.packages.push_back(std::move(bundle));

    std::set<std::string> oldMembers;
    for (const auto& record : set.packages)
        if (sameName(record->bundle.name, reference.name))
            oldMembers.insert(record->name);

    if (file.currentType == PartBlockList) {
        std::vector<Dependency> blocked;
        readDependencyList(file, blocked);
        for (const Dependency& entry : blocked)
            if (rememberedOf(request).count(entry.name) == 0)
                set.packages.push_back(blockerFor(entry.name));
        file.nextPart();
    }

    int members = 0;
    while (file.currentType == PartPackageHeader) {
        bool memberBoot = false;
        std::string name;
        InstallRequest member = request;
        member.bootImage = &memberBoot;
        if (!installPackage(set, manifest, file, member, &reference, &name))
            return InstallResult::Refused;
        oldMembers.erase(name);
        ++members;
        if (memberBoot && bootImage)
            *bootImage = true;
    }
    if (file.currentType == PartArchitecture)
        file.nextPart();
    if (file.currentType != PartEnd) {
        reportBrokenBundle(set, reference);
        return InstallResult::Refused;
    }
    if (members == 0) {
        reportBrokenBundle(set, reference);
        return InstallResult::NoMembers;
    }
    // A stream that ends at a part boundary before the size its file header states has
    // lost its last members: installing the rest would uninstall them as dropped.
    if (file.partOffset() < file.totalSize) {
        reportBrokenBundle(set, reference);
        return InstallResult::Refused;
    }
    if (!imageCopyIsWhole(set, shown, file))
        return InstallResult::Failed;

    // Members of the old bundle that the new one no longer holds go.
    for (const std::string& name : oldMembers) {
        index = indexOfPackage(set, name);
        if (index >= 0)
            set.packages[index]->action = ScheduledAction::Uninstall;
    }
    applyScheduledActions(set, manifest, Verbosity::Silent);
    set.setStatus(std::string());
    set.info("installed %s", dependencyText(reference).c_str());
    return InstallResult::Ok;
}

InstallResult installFromStream(PackageSet& set, Manifest& manifest, std::istream& input,
                                const InstallRequest& request) {
    PackageFile file(input, true, request.copy);
    file.acceptedTypes = {PartPackageHeader, PartBundleHeader, PartBlockList, PartArchitecture,
                          PartDependencies,  PartProvides,     PartConflicts, PartImage,
                          PartFiles,         PartSignature};
    file.nextPart();
    if (file.currentType == PartBundleHeader)
        return installBundle(set, manifest, file, request);
    std::string name;
    bool installed = installPackage(set, manifest, file, request, nullptr, &name);
    if (installed && request.copy != nullptr &&
        !copyPassedOver(set, file, name, request.databaseDir))
        installed = false;
    return installed ? InstallResult::Ok : InstallResult::Failed;
}
