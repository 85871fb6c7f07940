// Staged file operations: the manifest of pending renames, links and removals, keyed by
// the path that each one affects. Nothing reaches the installed tree before a commit.
#pragma once

#include <cstdint>
#include <fstream>
#include <map>
#include <string>
#include <vector>

enum class EntryKind : uint32_t {
    Move = 0,     // argument: an existing file elsewhere, not owned
    NewFile = 1,  // argument: a temporary file owned by the manifest
    Link = 3,     // argument: the text the symbolic link points to
    Unlink = 4,   // no argument
};

struct ManifestEntry {
    std::string path;
    EntryKind kind = EntryKind::Unlink;
    std::string argument;
};

class Manifest {
  public:
    // Sets the entry of path. A NewFile entry that is replaced loses its temporary file.
    void setEntry(const std::string& path, EntryKind kind, const std::string& argument);
    // At commit, source is renamed onto target.
    void stageMove(const std::string& source, const std::string& target);
    // At commit, a symbolic link to linkTarget is made at linkPath.
    void stageLink(const std::string& linkTarget, const std::string& linkPath);
    // Stages the removal of path when it exists now; otherwise drops whatever was
    // staged for it.
    void stageRemove(const std::string& path);
    // Makes a temporary file that the commit moves onto target and returns a stream open
    // on it; the stream is not open when the file could not be made. The file is placed
    // in target's own file system when that has sizeHint plus a tenth to spare, else in
    // /ram (/tmp when /ram is missing and no size is given). A mode that is not 0 sets
    // the file's permission bits.
    std::ofstream createFile(const std::string& target, uint32_t sizeHint, uint32_t mode);
    // Cancels a staged removal of path. False when path has another staged entry or
    // exists as something other than a directory.
    bool keepDirectory(const std::string& path);

    // Writes the text form to file; true only when every line was written (the file is
    // replaced whole, never left cut short).
    bool save(const std::string& file) const;
    // Reads a text form into the map. False when the file can't be opened or holds a bad
    // line; the entries read before a bad line stay.
    bool load(const std::string& file);
    // Deletes the temporary files of NewFile entries and empties the map.
    void discard();

    // Applies the entries: every removal and link first, then every move. Failures are
    // printed on standard error and skipped.
    void commit(bool showSpinner);
    // True when more than 16 blocks stay free on /flash and on /flash/boot afterwards.
    bool fitsOnFlash() const;

    bool empty() const { return entries.empty(); }
    size_t size() const { return entries.size(); }
    // The entry of path, or null.
    const ManifestEntry* find(const std::string& path) const;
    const std::map<std::string, ManifestEntry>& all() const { return entries; }

  private:
    std::map<std::string, ManifestEntry> entries;
    // Ancestors of the last target of createFile found missing. Nothing makes directories
    // in the tree before the commit, which forgets them.
    std::vector<std::string> missingDirectories;
};

// The directory part of path, as dirname gives it: "/flash" gives "/", a name without a
// slash gives ".".
std::string parentDirectory(const std::string& path);
