// The installer's temporary files: their names, the marker on flash that says a run may
// have left some there, and the sweep that removes those of runs that were cut short.
#pragma once

#include <cstddef>
#include <string>

// name (the last part of a path) is one of the installer's temporary names.
bool isTemporaryName(const std::string& name);
// Makes a new temporary file in folder, named ".installer-" and six random letters, with
// the permission bits of mode (12 bits, exactly, whatever the umask). Returns its
// descriptor, open for writing, and sets name; -1 with errno set when it can't be made.
int createTemporary(const std::string& folder, unsigned mode, std::string& name);

// Called before this run leaves its first temporary file on flash: makes the marker and
// makes it durable, so that a run cut short by a power cut is noticed at the next start.
// Cheap after the first call of the process. False when the marker could not be made.
bool markStaging();
// For a termination signal that deleted this run's temporary files: the marker goes too
// when this run made it and nothing else needs it. Async-signal-safe.
void dropStagingMarker();
// At the end of a run: the marker goes unless the journal or a saved manifest still
// names temporary files. savedManifestSpent: the saved manifest was just committed, so
// its temporary files are in place.
void settleStaging(bool savedManifestSpent = false);
// At the start of a run, after an interrupted commit was finished: deletes the
// installer's temporary files in /ram and /tmp, and when the marker is there those on
// /flash (and the copy of a package read from standard input), that neither the journal
// nor the saved manifest names; then settles the marker. Returns how many were deleted.
size_t sweepTemporaries();
