// The modes of a run that change the device.
#include "driver/modes.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "driver/commit_report.h"
#include "driver/upgrade_run.h"
#include "plan/actions.h"
#include "plan/install_driver.h"
#include "platform/device_paths.h"
#include "platform/fd_stream.h"
#include "stage/file_util.h"
#include "stage/manifest.h"
#include "stage/signal_guard.h"
#include "stage/temporaries.h"

namespace {

constexpr int Failed = 1;

// Opens the file that a package read from standard input is copied to, made anew: a link
// or a file that an interrupted run left there is replaced, never written through. -1
// when it can't be made.
int openStdinImage() {
    std::string real;
    size_t existing = 0;
    FlashPaths paths;
    if (paths.resolve(device::StdinImage, real, &existing) != PathStatus::Ok ||
        existing < parentDirectory(real).size() || !markStaging())
        return -1;
    unlink(real.c_str());
    return open(real.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
}

// Commits the manifest and reports what failed; a commit that could not even begin leaves
// nothing behind. False when a step failed.
bool commitAndReport(PackageSet& set, Manifest& manifest) {
    CommitResult result = manifest.commit(false);
    if (!result.started)
        manifest.discard();
    return reportCommit(set, result);
}

}  // namespace

int runCleanupMode(PackageSet& set) {
    Manifest manifest;
    manifest.guardTemporaries();
    selectForCleanup(set, manifest);
    int result = commitAndReport(set, manifest) ? 0 : Failed;
    settleStaging();
    return result;
}

int runStdinMode(PackageSet& set, InstallFlags flags) {
    Manifest manifest;
    manifest.guardTemporaries(device::StdinImageSource);
    applyScheduledActions(set, manifest, Verbosity::Normal);
    int fd = openStdinImage();
    if (fd < 0) {
        std::cout << "ERROR: could not open image" << std::endl;
        manifest.discard();  // the scheduled actions' temporary files would be left behind
        settleStaging();
        return -1;
    }
    // Unbuffered, so that a write that fails (a full disk) shows in the reader's copy
    // check while the package is installed, not only when the file is closed.
    FdOutStreamBuf image(fd);
    FdStreamBuf source(STDIN_FILENO);
    std::istream input(&source);
    std::string databaseDir;
    bool bootImage = false;
    InstallRequest request;
    request.flags = flags | InstallFlag::Upgrade;
    request.copy = &image;
    request.databaseDir = &databaseDir;
    request.bootImage = &bootImage;
    int result = int(installFromStream(set, manifest, input, request));
    if (!image.close() && result == 0) {
        set.error("could not write %s: %s", device::StdinImage, strerror(errno));
        result = Failed;
    }
    if (result == 0) {
        stageImage(manifest, device::StdinImageSource, databaseDir, bootImage);
    } else {
        // A package that failed changes nothing: neither its files nor the older version's
        // removal are committed, and its copy goes.
        manifest.discard();
        unlink(device::StdinImage);
    }
    if (!commitAndReport(set, manifest) && result == 0)
        result = Failed;
    writePostLog(set);
    settleStaging();
    return result;
}

int runUpgradeMode(PackageSet& set, InstallFlags flags, bool commitNow) {
    Manifest manifest;
    manifest.guardTemporaries();
    applyScheduledActions(set, manifest, Verbosity::Normal);
    int result = 0;
    flags |= InstallFlag::Upgrade;
    runUpgrade(set, manifest, flags);
    if (!(flags & InstallFlag::Reinstall) && !manifest.fitsOnFlash()) {
        set.error("not enough space for upgrade");
        manifest.discard();
        result = ENOSPC;
    }
    if (!manifest.empty()) {
        if (!createMarker(manifest, device::PackagesChanged)) {
            set.error("could not create %s: %s", device::PackagesChanged, strerror(errno));
            manifest.discard();
            result = Failed;
        } else if (commitNow) {
            if (!commitAndReport(set, manifest))
                result = Failed;
        } else if (manifest.save(device::SavedManifest)) {
            // The temporary files now belong to the saved manifest.
            staging::unguard();
        } else {
            // A later "--commit" must never meet a manifest cut short.
            set.error("could not save %s", device::SavedManifest);
            manifest.discard();
            result = Failed;
        }
    }
    writePostLog(set);
    settleStaging();
    return result;
}
