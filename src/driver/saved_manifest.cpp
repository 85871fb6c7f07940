// "--commit" and "--cancel": the manifest saved in /ram/MANIFEST by an earlier run.
#include "driver/saved_manifest.h"

#include <unistd.h>

#include <iostream>

#include "stage/manifest.h"

namespace {

const char SavedManifest[] = "/ram/MANIFEST";

}  // namespace

int commitSavedManifest() {
    Manifest manifest;
    // A missing file commits nothing; a bad line commits the entries read before it.
    manifest.load(SavedManifest);
    std::cout << "finishing install... " << std::flush;
    manifest.commit(true);
    // Backspace and blank wipe the last spinner character. The saved file stays, so an
    // interrupted commit can be run again.
    std::cout << "\b " << std::endl;
    return 0;
}

int cancelSavedManifest() {
    Manifest manifest;
    // A loaded manifest holds no temporary files of its own, so this deletes none.
    manifest.load(SavedManifest);
    manifest.discard();
    unlink(SavedManifest);
    return 0;
}
