// "--commit" and "--cancel": the manifest saved in /ram/MANIFEST by an earlier run.
#pragma once

// Commits /ram/MANIFEST with the spinner; the file stays. Returns the exit status.
int commitSavedManifest();
// Drops /ram/MANIFEST (temporary files named in it stay). Returns the exit status.
int cancelSavedManifest();
