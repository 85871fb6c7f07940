// "--commit" and "--cancel": the manifest saved in /ram/MANIFEST by an earlier run.
#include "driver/saved_manifest.h"

#include <unistd.h>

#include <iostream>

#include "driver/commit_report.h"
#include "platform/device_paths.h"
#include "stage/file_util.h"
#include "stage/manifest.h"
#include "stage/temporaries.h"

int commitSavedManifest(PackageSet& set) {
    Manifest manifest;
    LoadResult loaded = manifest.load(device::SavedManifest);
    if (loaded.status == LoadResult::Refused)
        return reportRefusedManifest(set, device::SavedManifest, loaded);
    // A missing file commits nothing.
    std::cout << "finishing install... " << std::flush;
    CommitResult result = manifest.commit(true);
    // Backspace and blank wipe the last spinner character. The saved file stays, so an
    // interrupted commit can be run again.
    std::cout << "\b " << std::endl;
    bool ok = reportCommit(set, result);
    settleStaging(ok);
    return ok ? 0 : 1;
}

int cancelSavedManifest() {
    Manifest manifest;
    // The temporary files that a saved manifest names were its run's own: they go with it.
    // Other sources of its moves (package files waiting to be kept) stay.
    if (manifest.load(device::SavedManifest).loaded()) {
        for (const auto& [path, entry] : manifest.all()) {
            std::string real = entry.argument;
            bool reachable =
                !isUnderFlash(real) || manifest.resolve(entry.argument, real) == PathStatus::Ok;
            if (entry.kind == EntryKind::Move && reachable && isTemporaryName(lastName(real)))
                unlink(real.c_str());
        }
    }
    unlink(device::SavedManifest);
    settleStaging();
    return 0;
}
