// "--commit" and "--cancel": the manifest saved in /ram/MANIFEST by an earlier run.
#include "driver/saved_manifest.h"

#include <cstdio>

// Not built yet: the staged file operations arrive with their own change.
int commitSavedManifest() {
    fprintf(stderr, "installer: --commit is not available in this build\n");
    return 1;
}

int cancelSavedManifest() {
    fprintf(stderr, "installer: --cancel is not available in this build\n");
    return 1;
}
