// What the driver makes of a commit: the error lines of its failed steps, the packages
// whose files it lost, and the commit that an interrupted run left in its journal.
#pragma once

#include "stage/manifest.h"

class PackageSet;
class RunLock;

// Reports every step of result that did not happen, one error line each, and marks the
// packages whose new files were lost as incomplete. True when every step happened.
bool reportCommit(PackageSet& set, const CommitResult& result);

// Reports a manifest file that was refused whole. Returns 1, the exit status.
int reportRefusedManifest(PackageSet& set, const char* file, const LoadResult& result);

enum class Recovery {
    Done,            // no journal, or one finished whole
    DoneWithErrors,  // finished, but steps were lost or refused (reported)
    Kept,            // the journal stays for a later start: this run must change nothing
};

// Finishes the commit that an interrupted run left in the journal, if there is one: says
// so, commits it and removes it. A run holding the shared lock takes the exclusive one for
// that.
Recovery finishInterruptedCommit(PackageSet& set, RunLock& lock, bool sharedLock);
