// Staged file operations: the manifest of pending renames, links and removals, keyed by
// the path that each one affects. Nothing reaches the installed tree before a commit.
#pragma once

#include <cstdint>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/fd_stream.h"
#include "stage/flash_path.h"

class SpaceAccount;

enum class EntryKind : uint32_t {
    Move = 0,     // argument: an existing file elsewhere, not owned
    NewFile = 1,  // argument: a temporary file owned by the manifest
    Link = 3,     // argument: the text the symbolic link points to
    Unlink = 4,   // no argument
};

struct ManifestEntry {
    EntryKind kind = EntryKind::Unlink;
    // A NewFile whose temporary file was made in the folder of a file that stood at its
    // path: the commit renames it over that file on one file system, which takes no room.
    bool besideOldFile = false;
    // For a NewFile whose temporary file lies in a folder of its path as written, only the
    // number of folders up from the path and the six letters that make the temporary
    // file's name unique (no "/"): the rest is known from the entry's own path.
    // fullArgument gives the whole argument in any case.
    std::string argument;

    // The argument of the entry of path, the temporary file's whole path for a NewFile.
    std::string fullArgument(const std::string& path) const;
};

// What reading a manifest's text form found.
struct LoadResult {
    enum Status { Loaded, Missing, Refused };
    Status status = Missing;
    // For Refused: the number of the first line that the installer could not have written,
    // and that line (cut to a length fit for a message).
    size_t line = 0;
    std::string text;

    bool loaded() const { return status == Loaded; }
};

// A step of a commit that did not happen.
struct CommitProblem {
    enum Kind {
        Failed,   // the file system refused; a later try may still do it
        Lost,     // the source of a move is gone: no later try can bring it back
        Refused,  // the path leads out of /flash (or is too long): it is never done
    };
    std::string path;
    int error = 0;  // the system error number
    Kind kind = Failed;
};

// What a commit did. The journal stays on flash while a step failed that a later try may
// still finish.
struct CommitResult {
    std::vector<CommitProblem> problems;
    // False when the commit changed nothing: its journal could not be written.
    bool started = false;
    bool journalKept = false;

    bool ok() const { return problems.empty(); }
};

class FileSystems;

class Manifest {
  public:
    // Sets the entry of path and gives it. A NewFile entry that is replaced loses its
    // temporary file.
    ManifestEntry& setEntry(const std::string& path, EntryKind kind, const std::string& argument);
    // At commit, source is renamed onto target.
    void stageMove(const std::string& source, const std::string& target);
    // At commit, a symbolic link to linkTarget is made at linkPath.
    void stageLink(const std::string& linkTarget, const std::string& linkPath);
    // Stages the removal of path when it exists now (a link counts as itself); otherwise
    // drops whatever was staged for it. A path whose folders lead out of /flash is left.
    void stageRemove(const std::string& path);
    // Makes a temporary file that the commit moves onto target and returns a stream open
    // on it; the stream is not open when the file could not be made (errno tells why: a
    // folder at target, a link on its way out of /flash, no room in any place). The
    // file is placed in the nearest existing folder of target when its file system has
    // sizeHint plus a tenth to spare, else in /ram (/tmp when /ram is missing). A mode that
    // is not 0 sets the file's permission bits.
    FdOutStream createFile(const std::string& target, uint32_t sizeHint, uint32_t mode);
    // Cancels a staged removal of path. False when path has another staged entry or
    // exists as something other than a folder (a link included).
    bool keepDirectory(const std::string& path);

    // Writes the text form to file; true only when every line was written (the file is
    // replaced whole, never left cut short).
    bool save(const std::string& file) const;
    // Reads a text form into an empty map. A file holding a line that the installer could
    // not have written (a path outside /flash, a "." or ".." step, a move from elsewhere
    // than /flash, /ram, /tmp or the download folder, a line cut short or too long) is
    // refused whole and leaves the map empty. "D" lines name copies a commit has done.
    LoadResult load(const std::string& file);
    // Deletes the temporary files of NewFile entries and empties the map.
    void discard();
    // Until staging::unguard, a termination signal deletes the temporary files of this
    // manifest (and alsoDelete, when given) before the process ends.
    void guardTemporaries(const char* alsoDelete = nullptr) const;

    // Applies the entries through the journal on flash (see commit.cpp): every removal and
    // link first, then every move.
    CommitResult commit(bool showSpinner);
    // Applies the entries of a journal left by an interrupted commit, which stays the
    // journal of this commit.
    CommitResult finishJournal(bool showSpinner);
    // True when more than 16 blocks stay free on /flash and on /flash/boot afterwards.
    bool fitsOnFlash() const;
    // True when the commit finds room for every copy, folder and its journal on the way.
    bool hasRoomToCommit() const;

    bool empty() const { return entries.empty(); }
    size_t size() const { return entries.size(); }
    // The entry of path, or null.
    const ManifestEntry* find(const std::string& path) const;
    const std::map<std::string, ManifestEntry>& all() const { return entries; }
    // Resolves path under /flash for this manifest's staging (see FlashPaths::resolve).
    PathStatus resolve(const std::string& path, std::string& real, size_t* existing = nullptr) {
        return paths.resolve(path, real, existing);
    }
    // real (a resolved path) is a file or folder of the installer's own.
    bool isInstallerPath(const std::string& real) { return paths.isInstallerPath(real); }
    // A file is staged at a folder of path, or path is a folder of a staged file.
    bool clashesWithStagedFile(const std::string& path) const;

  private:
    // sources: the file systems of the moves' sources, when known.
    CommitResult apply(const FileSystems* sources, bool showSpinner);
    void dropRemovalReplacedBy(const std::string& target);
    void balance(SpaceAccount& flash, SpaceAccount& boot, bool exact) const;

    // The free room of the folder where the last temporary file went.
    struct Room {
        // There is room for sizeHint plus a tenth in place; if so, it is taken.
        bool takes(const std::string& place, uint32_t sizeHint);
        std::string folder;
        uint64_t free = 0;
        uint64_t block = 1;
    };

    std::map<std::string, ManifestEntry> entries;
    Room room;
    // fitsOnFlash found room, with more to spare than the commit needs.
    mutable bool roomChecked = false;
    // Targets whose copy across file systems an earlier try of this commit finished.
    std::set<std::string> copied;
    mutable FlashPaths paths;
};

// Stages an empty marker file at path; false (errno set) when it can't be made.
bool createMarker(Manifest& manifest, const std::string& path);
// A text-form field: blanks and backslashes written as \040 and \134.
std::string escapeField(const std::string& text);
std::string unescapeField(const std::string& text);
