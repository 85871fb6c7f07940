// "--commit" and "--cancel": the manifest saved in /ram/MANIFEST by an earlier run.
#pragma once

class PackageSet;

// Commits /ram/MANIFEST with the spinner; the file stays. A manifest holding a line that
// the installer could not have written is refused whole. Returns the exit status: 0, or 1
// when it was refused or a step of the commit failed.
int commitSavedManifest(PackageSet& set);
// Drops /ram/MANIFEST and the installer's temporary files that it names. Returns the exit
// status.
int cancelSavedManifest();
