// Paths under /flash resolved without leaving it. Whoever can write to /flash can plant a
// symbolic link there; every path the installer writes, links, renames or removes on
// behalf of a package is resolved here first, so that such a link can lead it elsewhere
// under /flash but never out of it.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

enum class PathStatus {
    Ok,
    Outside,    // not under /flash, or a link on the way leads out of it
    NotFolder,  // a folder on the way is something else
    TooLong,    // longer than PATH_MAX, a name longer than NAME_MAX, or too many links
    Failed,     // the file system refused (errno tells why)
};

// The system error number that describes a status other than Ok in a message.
int errorNumberOf(PathStatus status);

class FlashPaths {
  public:
    // Resolves the folders of path, an absolute path under /flash: each folder is looked
    // at from /flash downward without following it, and a symbolic link is followed only
    // to a place under /flash. The last name of path is never followed. On Ok, real is
    // the path through real folders and existing the length of its longest prefix that
    // exists (the folders after it are missing and kept as written). With make, missing
    // folders are created with mode 0777 (less the umask) instead.
    PathStatus resolve(const std::string& path, std::string& real, size_t* existing = nullptr,
                       bool make = false);
    // As resolve, and then a link at the last name is followed too, while it leads to a
    // place under /flash: real is what a reader of path would open.
    PathStatus follow(const std::string& path, std::string& real);
    // real (a resolved path) is the package database folder, lies in it, or is one of the
    // installer's own files on flash: the boot image, the post-install log, the markers.
    bool isInstallerPath(const std::string& real);
    // Forgets the folders checked so far (after a change of the tree that this object did
    // not make).
    void forget() {
        folders.clear();
        keptBytes = 0;
    }

  private:
    // Resolves the names of folder from position from on, starting at real, the resolved
    // folder before them; real becomes the result.
    // made: on entry, whether this object made the folder the walk starts from; on
    // return, whether it made the last one.
    PathStatus walk(std::string_view folder, size_t from, std::string& real, size_t& existing,
                    bool make, bool& made);

    struct Folder {
        std::string real;  // empty: the folder as written, less its last "/"
        size_t existing = 0;
        bool missing = false;  // folders at its end are missing
        bool made = false;     // made by this object
    };
    using Folders = std::map<std::string, Folder, std::less<>>;
    Folders::iterator keep(std::string_view folder, std::string real, size_t existing);
    static std::string realOf(std::string_view folder, const Folder& kept);
    // Folders of earlier paths, as written, mapped to what resolving them found, one entry
    // per folder: kept until forget(), so while they are in use nothing but this object
    // may make or remove folders.
    Folders folders;
    // The database folder and the installer's own files, resolved once (see
    // isInstallerPath).
    size_t keptBytes = 0;
    bool installerPathsKnown = false;
    std::string databaseFolder;
    std::vector<std::string> installerFiles;
};

// path is /flash or lies below it (a plain prefix test at a name boundary).
bool isUnderFlash(const std::string& path);
