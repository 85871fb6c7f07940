// Fuzz support: the private device root and its file helpers.
#include "private_root.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

void must(bool done, const std::string& step) {
    if (!done) {
        fprintf(stderr, "private root: %s: %s\n", step.c_str(), strerror(errno));
        abort();
    }
}

// A mount namespace of this process alone (without root, inside a user namespace in which
// this process is root) whose tmpfs covers the host's /tmp, so nothing is made on the host
// and nothing is left there when the process ends, however it ends.
[[gnu::constructor]] void enterPrivateRoot() {
    uid_t uid = geteuid();
    gid_t gid = getegid();
    must(unshare(uid == 0 ? CLONE_NEWNS : CLONE_NEWUSER | CLONE_NEWNS) == 0, "unshare");
    if (uid != 0) {
        std::ofstream("/proc/self/setgroups") << "deny";
        std::ofstream("/proc/self/uid_map") << "0 " << uid << " 1";
        std::ofstream("/proc/self/gid_map") << "0 " << gid << " 1";
    }
    must(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0, "private mounts");
    must(mount("tmpfs", "/tmp", "tmpfs", 0, "size=256m") == 0, "tmpfs");
    std::error_code error;
    for (const char* dir : {"flash/boot", "flash/var/pdb", "ram", "rw/pckg/.download", "tmp"})
        must(fs::create_directories(std::string("/tmp/") + dir, error), dir);
    // The symbolizer and its libraries, and /proc/self/maps, read-only; left out when they
    // can't be made read-only, so that no bug under test can write to the host.
    for (std::string dir : {"/usr", "/lib", "/lib64", "/bin", "/proc"}) {
        std::string inside = "/tmp" + dir;
        if (mkdir(inside.c_str(), 0755) == 0 &&
            mount(dir.c_str(), inside.c_str(), nullptr, MS_BIND | MS_REC, nullptr) == 0 &&
            mount(nullptr, inside.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
            umount2(inside.c_str(), MNT_DETACH);
    }
    // Only the root changes: relative paths keep naming the host's working directory.
    must(chroot("/tmp") == 0, "chroot");
}

}  // namespace

std::set<std::string> pathsBelow(std::initializer_list<const char*> dirs) {
    std::set<std::string> paths;
    for (const char* dir : dirs) {
        std::error_code error, gone;
        for (fs::recursive_directory_iterator it(dir, error), end; !error && it != end;
             it.increment(error))
            paths.insert(it->path().string() + (is_directory(it->symlink_status(gone)) ? "/" : ""));
    }
    return paths;
}

void writeWholeFile(const std::string& path, const std::string& content) {
    std::error_code error;
    fs::create_directories(fs::path(path).parent_path(), error);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

void fuzzFailure(const std::string& what) {
    fprintf(stderr, "fuzz target: %s\n", what.c_str());
    abort();
}
