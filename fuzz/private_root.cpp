// Fuzz support: the private device root and its file helpers.
#include "private_root.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

namespace {

const char* const DeviceDirs[] = {"flash", "flash/boot", "flash/var", "flash/var/pdb",
                                  "ram",   "rw",         "rw/pckg",   "rw/pckg/.download",
                                  "tmp"};
// Host directories the sanitizers need inside the root (the symbolizer, /proc/self/maps).
const char* const HostDirs[] = {"usr", "lib", "lib64", "bin", "proc"};

// The host directory the root's tmpfs is mounted on, removed again at exit.
int hostParent = -1;
std::string mountName;

[[noreturn]] void setupFailure(const std::string& step) {
    fprintf(stderr, "private root: %s: %s\n", step.c_str(), strerror(errno));
    abort();
}

void writeProcFile(const char* path, const std::string& text) {
    int fd = open(path, O_WRONLY);
    if (fd < 0)
        return;
    [[maybe_unused]] ssize_t ignored = write(fd, text.data(), text.size());
    close(fd);
}

// A mount namespace of this process alone; without root, inside a user namespace in
// which this process is root.
void unshareMounts() {
    if (geteuid() == 0) {
        if (unshare(CLONE_NEWNS) != 0)
            setupFailure("unshare");
    } else {
        uid_t uid = geteuid();
        gid_t gid = getegid();
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            setupFailure("unshare");
        writeProcFile("/proc/self/setgroups", "deny");
        writeProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
        writeProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        setupFailure("private mounts");
}

// Shows a host directory at the same place in the root, read-only; left out when it
// can't be made read-only, so that no bug under test can write to the host.
void showHostDirectory(const std::string& root, const char* name) {
    std::string host = std::string("/") + name;
    std::string inside = root + "/" + name;
    struct stat st;
    if (lstat(host.c_str(), &st) != 0)
        return;
    if (S_ISLNK(st.st_mode)) {
        char target[4096];
        ssize_t n = readlink(host.c_str(), target, sizeof target - 1);
        if (n > 0 && symlink(std::string(target, size_t(n)).c_str(), inside.c_str()) != 0)
            setupFailure("symlink " + inside);
        return;
    }
    if (!S_ISDIR(st.st_mode) || mkdir(inside.c_str(), 0755) != 0)
        return;
    if (mount(host.c_str(), inside.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
        return;
    if (mount(nullptr, inside.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
        umount2(inside.c_str(), MNT_DETACH);
}

void removeMountPoint() {
    // The tmpfs goes with the mount namespace; the empty directory it was mounted on is
    // reached through the descriptor kept from outside the root.
    int here = open(".", O_RDONLY | O_DIRECTORY);
    if (fchdir(hostParent) == 0) {
        umount2(mountName.c_str(), MNT_DETACH);
        rmdir(mountName.c_str());
    }
    if (here >= 0) {
        [[maybe_unused]] int ignored = fchdir(here);
        close(here);
    }
}

}  // namespace

void enterPrivateRoot() {
    const char* tmp = getenv("TMPDIR");
    std::string parent = tmp && *tmp ? tmp : "/tmp";
    std::string pattern = parent + "/installer-fuzz-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr)
        setupFailure("mkdtemp");
    std::string root = buffer.data();
    mountName = root.substr(root.rfind('/') + 1);
    hostParent = open(parent.c_str(), O_RDONLY | O_DIRECTORY);

    unshareMounts();
    if (mount("tmpfs", root.c_str(), "tmpfs", 0, "size=256m") != 0)
        setupFailure("tmpfs");
    for (const char* dir : DeviceDirs) {
        if (mkdir((root + "/" + dir).c_str(), 0755) != 0)
            setupFailure(std::string("mkdir ") + dir);
    }
    for (const char* dir : HostDirs)
        showHostDirectory(root, dir);
    // Only the root changes: relative paths keep naming the host's working directory.
    if (chroot(root.c_str()) != 0)
        setupFailure("chroot");
    atexit(removeMountPoint);
}

static void collectPaths(const std::string& dir, std::set<std::string>& paths) {
    DIR* d = opendir(dir.c_str());
    if (d == nullptr)
        return;
    while (dirent* entry = readdir(d)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        std::string path = dir + "/" + name;
        struct stat st;
        if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            paths.insert(path + "/");
            collectPaths(path, paths);
        } else {
            paths.insert(path);
        }
    }
    closedir(d);
}

std::set<std::string> pathsBelow(const std::string& dir) {
    std::set<std::string> paths;
    collectPaths(dir, paths);
    return paths;
}

void emptyDirectory(const std::string& dir) {
    DIR* d = opendir(dir.c_str());
    if (d == nullptr)
        return;
    std::vector<std::string> names;
    while (dirent* entry = readdir(d)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(d);
    for (const std::string& name : names) {
        std::string path = dir + "/" + name;
        struct stat st;
        if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            emptyDirectory(path);
            rmdir(path.c_str());
        } else {
            unlink(path.c_str());
        }
    }
}

void writeWholeFile(const std::string& path, const std::string& content) {
    std::string dir = path.substr(0, path.rfind('/'));
    for (size_t slash = 1; slash != std::string::npos; slash = dir.find('/', slash + 1))
        mkdir(dir.substr(0, slash).c_str(), 0755);
    mkdir(dir.c_str(), 0755);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), std::streamsize(content.size()));
}

void fuzzFailure(const std::string& what) {
    fprintf(stderr, "fuzz target: %s\n", what.c_str());
    abort();
}
