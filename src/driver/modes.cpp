// The modes of a run that change the device.
#include "driver/modes.h"

#include <unistd.h>

#include <fstream>
#include <iostream>

#include "driver/upgrade_run.h"
#include "plan/actions.h"
#include "plan/install_driver.h"
#include "platform/fd_stream.h"
#include "stage/manifest.h"

namespace {

// The package file read from standard input is copied here as it streams in.
const char StdinImage[] = "/flash/var/pdb//image";
const char SavedManifest[] = "/ram/MANIFEST";
constexpr int NoSpace = 28;
constexpr int SaveFailed = 1;

// Stages where the copy of a package file read from standard input ends up: the
// package's database image, or the boot image with a link to it, or nowhere.
void placeStdinImage(Manifest& manifest, const std::string& databaseDir, bool bootImage) {
    if (databaseDir.empty()) {
        manifest.stageRemove(StdinImage);
        return;
    }
    std::string imagePath = databaseDir + "image";
    if (bootImage) {
        manifest.stageMove("/flash/var/pdb/image", "/flash/bootimage");
        manifest.stageLink("/flash/bootimage", imagePath);
    } else {
        manifest.stageMove("/flash/var/pdb/image", imagePath);
    }
}

}  // namespace

int runCleanupMode(PackageSet& set) {
    Manifest manifest;
    selectForCleanup(set, manifest);
    manifest.commit(false);
    return 0;
}

int runStdinMode(PackageSet& set, InstallFlags flags) {
    Manifest manifest;
    applyScheduledActions(set, manifest, 1);
    // Unbuffered, so that a write that fails (a full disk) shows in the reader's copy
    // check while the package is installed, not only when the file is closed.
    std::ofstream image;
    image.rdbuf()->pubsetbuf(nullptr, 0);
    image.open(StdinImage, std::ios::binary | std::ios::trunc);
    if (!image.is_open()) {
        std::cout << "ERROR: could not open image" << std::endl;
        manifest.discard();  // the scheduled actions' temporary files would be left behind
        return -1;
    }
    FdStreamBuf source(STDIN_FILENO);
    std::istream input(&source);
    std::string databaseDir;
    bool bootImage = false;
    int result = installFromStream(set, manifest, input, flags | InstallFlag::Upgrade,
                                   RememberedStates(), image.rdbuf(), &databaseDir, &bootImage);
    image.close();
    if (result == InstallOk) {
        placeStdinImage(manifest, databaseDir, bootImage);
    } else {
        // A package that failed changes nothing: neither its files nor the older version's
        // removal are committed, and its copy goes.
        manifest.discard();
        unlink(StdinImage);
    }
    manifest.commit(false);
    writePostLog(set);
    return result;
}

int runUpgradeMode(PackageSet& set, InstallFlags flags, bool commitNow) {
    Manifest manifest;
    applyScheduledActions(set, manifest, 1);
    int result = 0;
    flags |= InstallFlag::Upgrade;
    runUpgrade(set, manifest, flags);
    if (!(flags & InstallFlag::Reinstall) && !manifest.fitsOnFlash()) {
        set.error("not enough space for upgrade");
        manifest.discard();
        result = NoSpace;
    }
    if (!manifest.empty()) {
        manifest.createFile("/flash/PCKGS_CHANGED", 1, 0).close();
        if (commitNow) {
            manifest.commit(false);
        } else if (!manifest.save(SavedManifest)) {
            // A later "--commit" must never meet a manifest cut short.
            set.error("could not save %s", SavedManifest);
            manifest.discard();
            result = SaveFailed;
        }
    }
    writePostLog(set);
    return result;
}
