// Package records: versions, dependency entries, and the records of installed packages
// and of package files found on disk.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <list>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

// Packed version: major (bits 31..24), minor, release kind letter ('a', 'b', 'c', 'f'),
// build. Ordered as a plain unsigned number; 0 means "not set" (and "no bound" in a
// Dependency).
using Version = uint32_t;

// The text form of a version: 6.40.5, 6.40, 6.41beta3, 6.41rc, 6.42alpha1.
std::string versionText(Version version);

// One entry of a dependency, provides or conflicts list, and the form of a bundle
// reference. priority is compared (signed) only in provides lists.
struct Dependency {
    std::string name;
    Version min = 0;
    Version max = 0;
    int32_t priority = 0;
};

// What is to happen to an installed package in this run; never stored.
enum class ScheduledAction : uint32_t { None = 0, Uninstall = 1, Enable = 2, Disable = 3 };

// "", "uninstall", "enable", "disable": the words of schedule files and messages.
const char* actionWord(ScheduledAction action);

// Bits of a record's flags word.
constexpr uint32_t FlagBootImage = 1;  // the package carries the boot image
constexpr uint32_t FlagNoMeta = 2;     // no meta files are written for it in the database

// The installed paths of a package, each once, in byte order. They are held in one
// buffer, so that a package of many files costs little more than the files' names.
class FileList {
  public:
    FileList() = default;
    FileList(std::initializer_list<std::string> paths) { *this = paths; }
    FileList& operator=(std::initializer_list<std::string> paths);

    void insert(std::string_view path);
    void clear();
    bool empty() const { return offsets.empty(); }

    // Walks the paths in byte order, each once. Valid until the next insert.
    class const_iterator {
      public:
        const_iterator(const FileList* list, size_t index) : list(list), index(index) {}
        std::string_view operator*() const { return list->at(index); }
        const_iterator& operator++() {
            ++index;
            return *this;
        }
        bool operator!=(const const_iterator& other) const { return index != other.index; }

      private:
        const FileList* list;
        size_t index;
    };
    const_iterator begin() const;
    const_iterator end() const { return const_iterator(this, offsets.size()); }

  private:
    static constexpr size_t ChunkBits = 16;
    static constexpr size_t ChunkSize = size_t(1) << ChunkBits;
    static constexpr size_t FirstChunk = 1024;

    std::string_view view(uint32_t offset) const;
    std::string_view at(size_t index) const;
    // Sorts the paths and drops repeated ones, when an insert came since.
    void settle() const;

    // The paths, each followed by a NUL, in chunks that are never moved (so that a long
    // list grows without a copy of itself); a path of more than a chunk gets one of its
    // own. Repeated paths stay here but leave offsets, whose high bits number the chunk.
    std::vector<std::unique_ptr<char[]>> chunks;
    size_t capacity = 0;  // bytes in the last chunk
    size_t used = 0;      // bytes taken in it
    mutable std::vector<uint32_t> offsets;
    mutable bool settled = true;
};

// The common package record. Records live on the heap and have one owner each.
class Package {
  public:
    explicit Package(std::string name = std::string(), Version version = 0, uint32_t buildTime = 0);
    virtual ~Package();

    // A placeholder never conflicts and takes no part in bundle bookkeeping.
    bool isPlaceholder() const { return version == 0xFFFFFFFF && buildTime == 0xFFFFFFFF; }

    std::string name;
    Version version;
    uint32_t buildTime;
    uint32_t flags = 0;
    std::string arch;
    std::string note;
    bool keepImage = false;
    std::vector<Dependency> deps;
    std::vector<Dependency> provides;
    std::vector<Dependency> conflicts;
    bool isBundle = false;
    // Members of a bundle read from a package file, in file order.
    std::list<std::unique_ptr<Package>> contents;
};

// The record of a package in the database, or of one that joins the set in this run.
class InstalledPackage : public Package {
  public:
    using Package::Package;

    // Active after the run: being enabled (whether disabled now or already enabled), or
    // enabled and left alone.
    bool isWanted() const;

    // Installed paths below /flash, each beginning with "/" ("/bin/x", "/x/pkg/bin/x").
    FileList files;
    // The bundle this package belongs to; an empty name means none.
    Dependency bundle;
    bool disabled = false;
    // The enabled/disabled state or the scheduled action was the user's choice.
    bool userForced = false;
    // A file of its last install was lost in a commit cut short: it is installed again,
    // even in the same version.
    bool incomplete = false;
    ScheduledAction action = ScheduledAction::None;
};

// A package file found on disk that may be installed.
class CandidatePackage : public Package {
  public:
    using Package::Package;

    std::string path;
};

// "name-version", the form in which every message names a package.
std::string packageText(const Package& package);
// The name alone when min is 0, else "name-version of min".
std::string dependencyText(const Dependency& dependency);
// Exact byte comparison.
bool sameName(const std::string& a, const std::string& b);
// Why the installer refuses a package name, or null when it takes it. The name builds
// database paths and is a word of the database's lists: it may not be empty, begin with
// "." (the database passes over such entries), or hold "/", a blank or a line feed.
const char* packageNameProblem(const std::string& name);
bool isSafePackageName(const std::string& name);
// The longest entry name whose target ("/flash/" and the name) fits PATH_MAX, and the
// longest step of one (NAME_MAX).
constexpr size_t MaxEntryName = 4096 - 7;
constexpr size_t MaxEntryStep = 255;
// Why the installer refuses the name of a file entry, or null when it takes it: after an
// optional leading "/", a path of at most 4,089 bytes (so that its target fits PATH_MAX)
// with no empty, "." or ".." step, no step longer than 255 bytes, no line feed or NUL
// byte, that does not name a file of the installer's own (the package database, the boot
// image, the post-install log, the marker files). pkgtool makes the same check, so that a
// package it builds is one the installer takes.
const char* entryNameProblem(const std::string& name);
// A path of a files list that can be taken as it stands: no empty, "." or ".." step
// after its optional leading "/" (which would name a folder, or lead out of /flash).
bool isCleanPath(const std::string& path);
