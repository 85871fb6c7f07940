// The commit journal: the manifest of a commit, kept on flash from before the commit's
// first change until after its last, so that a commit cut short by a crash or a power cut
// is finished at the next start. It lies in the database folder under a dot name, which
// no reader of the database takes for a package.
#pragma once

#include <string>

class Manifest;

namespace journal {

// A journal was left by a commit that did not end.
bool exists();
// Writes manifest as the journal: a temporary file, flushed, renamed into place and the
// folder flushed. False when that failed (errno tells why); nothing was changed then.
bool write(const Manifest& manifest);
// Adds to the journal that the copy onto target is complete, durably: a later try of the
// commit then does not take the copy's source, which may be gone by then, for lost.
bool noteCopied(const std::string& target);
// Removes the journal, durably.
void remove();

}  // namespace journal
