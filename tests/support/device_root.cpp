// Test support: temporary device roots and running code and the installer inside them.
#include "support/device_root.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include <gtest/gtest.h>

#ifndef INSTALLER_BINARY
#define INSTALLER_BINARY "installer"
#endif
#ifndef INSTALLER_EMULATOR
#define INSTALLER_EMULATOR ""
#endif
#ifndef INSTALLER_SOURCE_DIR
#define INSTALLER_SOURCE_DIR "."
#endif

namespace {

const char InsideDir[] = ".test-bin";
const char ProcDir[] = "proc";

void writeProcFile(const char* path, const std::string& text) {
    int fd = open(path, O_WRONLY);
    if (fd < 0)
        return;
    ssize_t ignored = write(fd, text.data(), text.size());
    (void)ignored;
    close(fd);
}

// Gives this process the right to chroot: nothing to do as root, else a user namespace
// in which it is root.
bool gainRoot() {
    if (geteuid() == 0)
        return true;
    uid_t uid = geteuid();
    gid_t gid = getegid();
    if (unshare(CLONE_NEWUSER) != 0)
        return false;
    writeProcFile("/proc/self/setgroups", "deny");
    writeProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
    writeProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
    return true;
}

bool enterRoot(const std::string& root) {
    return gainRoot() && chroot(root.c_str()) == 0 && chdir("/") == 0;
}

// The sanitizers read their options from /proc/self/environ: give the root a view of
// /proc in a mount namespace of its own. Failures only cost the sanitizer options.
void showProcInside(const std::string& root) {
    std::string proc = root + "/" + ProcDir;
    if (unshare(CLONE_NEWNS) != 0)
        return;
    mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
    mkdir(proc.c_str(), 0555);
    mount("/proc", proc.c_str(), nullptr, MS_BIND | MS_REC, nullptr);
}

std::vector<std::string> splitWords(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    std::string word;
    while (in >> word)
        words.push_back(word);
    return words;
}

int decodeStatus(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

// How the child of runProcess starts: in the current root, or entering root before exec.
// With a root the child also sees /proc inside it, whether it enters the root itself or
// the installer does ("-r"), so that the sanitizers still work there.
enum class Start { AsIs, ShowProcIn, EnterRoot };

// Runs argv with input on standard input, capturing both outputs.
RunResult runProcess(const std::vector<std::string>& argv, const std::string& input,
                     const std::vector<std::string>& env, Start start = Start::AsIs,
                     const std::string& root = "") {
    RunResult result;
    int inPipe[2], outPipe[2], errPipe[2];
    if (pipe(inPipe) != 0 || pipe(outPipe) != 0 || pipe(errPipe) != 0)
        return result;
    // A child that exits without reading all of its input must not kill the test with
    // SIGPIPE; the child gets the default action back before exec.
    signal(SIGPIPE, SIG_IGN);
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGPIPE, SIG_DFL);
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
            close(fd);
        if (!gainRoot())
            _exit(126);
        if (start != Start::AsIs)
            showProcInside(root);
        if (start == Start::EnterRoot && (chroot(root.c_str()) != 0 || chdir("/") != 0))
            _exit(126);
        for (const std::string& entry : env)
            putenv(strdup(entry.c_str()));
        std::vector<char*> args;
        for (const std::string& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    size_t written = 0;
    int inFd = inPipe[1];
    if (input.empty()) {
        close(inFd);
        inFd = -1;
    } else {
        fcntl(inFd, F_SETFL, O_NONBLOCK);
    }
    bool outOpen = true, errOpen = true;
    char chunk[65536];
    while (outOpen || errOpen || inFd >= 0) {
        pollfd fds[3];
        int count = 0;
        if (outOpen)
            fds[count++] = {outPipe[0], POLLIN, 0};
        if (errOpen)
            fds[count++] = {errPipe[0], POLLIN, 0};
        if (inFd >= 0)
            fds[count++] = {inFd, POLLOUT, 0};
        if (poll(fds, count, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < count; ++i) {
            if (fds[i].revents == 0)
                continue;
            if (fds[i].fd == inFd) {
                ssize_t n = write(inFd, input.data() + written, input.size() - written);
                if (n > 0)
                    written += size_t(n);
                if (n < 0 && errno != EAGAIN && errno != EINTR)
                    written = input.size();
                if (written == input.size()) {
                    close(inFd);
                    inFd = -1;
                }
                continue;
            }
            ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
            if (n > 0) {
                (fds[i].fd == outPipe[0] ? result.out : result.err).append(chunk, size_t(n));
            } else if (n == 0 || errno != EINTR) {
                (fds[i].fd == outPipe[0] ? outOpen : errOpen) = false;
            }
        }
    }
    close(outPipe[0]);
    close(errPipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = decodeStatus(status);
    return result;
}

// The installer (under the emulator of a cross build) with args.
std::vector<std::string> installerCommand(const std::vector<std::string>& args) {
    std::vector<std::string> argv = splitWords(INSTALLER_EMULATOR);
    argv.push_back(INSTALLER_BINARY);
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

void removeTree(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return;
    if (S_ISDIR(st.st_mode)) {
        if (DIR* dir = opendir(path.c_str())) {
            while (dirent* entry = readdir(dir)) {
                std::string name = entry->d_name;
                if (name != "." && name != "..")
                    removeTree(path + "/" + name);
            }
            closedir(dir);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

void copyFileTo(const std::string& from, const std::string& to) {
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(to, std::ios::binary | std::ios::trunc);
    out << in.rdbuf();
    out.close();
    chmod(to.c_str(), 0755);
}

std::string baseName(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

void snapshotInto(const std::string& base, const std::string& relative,
                  std::map<std::string, std::string>& tree) {
    DIR* dir = opendir((base + "/" + relative).c_str());
    if (!dir)
        return;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name == "." || name == ".." ||
            (relative.empty() && (name == InsideDir || name == ProcDir)))
            continue;
        std::string rel = relative.empty() ? name : relative + "/" + name;
        std::string full = base + "/" + rel;
        struct stat st;
        if (lstat(full.c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            tree[rel + "/"] = "";
            snapshotInto(base, rel, tree);
        } else if (S_ISLNK(st.st_mode)) {
            char target[4096];
            ssize_t n = readlink(full.c_str(), target, sizeof target);
            tree[rel] = "-> " + std::string(target, n > 0 ? size_t(n) : 0);
        } else {
            std::ifstream in(full, std::ios::binary);
            std::ostringstream content;
            content << in.rdbuf();
            tree[rel] = content.str();
        }
    }
    closedir(dir);
}

}  // namespace

DeviceRoot::DeviceRoot() {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/device-root-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp failed: " << strerror(errno);
        return;
    }
    rootPath = buffer.data();
    for (const char* dir : {"flash", "flash/boot", "flash/var", "flash/var/pdb", "ram", "rw",
                            "rw/pckg", "rw/pckg/.download", "tmp"})
        makeDir(dir);
}

DeviceRoot::~DeviceRoot() {
    if (!rootPath.empty() && getenv("KEEP_DEVICE_ROOT") == nullptr)
        removeTree(rootPath);
}

std::string DeviceRoot::path(const std::string& relative) const {
    if (!relative.empty() && relative[0] == '/')
        return rootPath + relative;
    return rootPath + "/" + relative;
}

void DeviceRoot::makeDir(const std::string& relative) const {
    std::string full = path(relative);
    for (size_t slash = rootPath.size() + 1; slash != std::string::npos;
         slash = full.find('/', slash + 1))
        mkdir(full.substr(0, slash).c_str(), 0755);
    mkdir(full.c_str(), 0755);
}

void DeviceRoot::writeFile(const std::string& relative, const std::string& content,
                           unsigned mode) const {
    std::string full = path(relative);
    makeDir(full.substr(rootPath.size() + 1, full.rfind('/') - rootPath.size() - 1));
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out << content;
    out.close();
    chmod(full.c_str(), mode);
}

std::string DeviceRoot::readFile(const std::string& relative) const {
    std::ifstream in(path(relative), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

bool DeviceRoot::exists(const std::string& relative) const {
    struct stat st;
    return lstat(path(relative).c_str(), &st) == 0;
}

bool DeviceRoot::isLink(const std::string& relative) const {
    struct stat st;
    return lstat(path(relative).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::string DeviceRoot::linkTarget(const std::string& relative) const {
    char target[4096];
    ssize_t n = readlink(path(relative).c_str(), target, sizeof target);
    return n > 0 ? std::string(target, size_t(n)) : std::string();
}

std::map<std::string, std::string> DeviceRoot::snapshot() const {
    std::map<std::string, std::string> tree;
    snapshotInto(rootPath, "", tree);
    return tree;
}

RunResult DeviceRoot::run(const std::vector<std::string>& args, const std::string& input,
                          const std::vector<std::string>& env) const {
    return runProcess(installerCommand(args), input, env);
}

RunResult DeviceRoot::runOnRoot(const std::vector<std::string>& args, const std::string& input,
                                const std::vector<std::string>& env) const {
    std::vector<std::string> all = {"-r", rootPath};
    all.insert(all.end(), args.begin(), args.end());
    return runProcess(installerCommand(all), input, env, Start::ShowProcIn, rootPath);
}

// Copies the installer into the root with what it needs to start there: the emulator
// for a cross build, else the dynamic loader and the shared libraries that ldd names.
void DeviceRoot::installBinaryInside() const {
    if (binaryInside)
        return;
    binaryInside = true;
    std::string dir = path(InsideDir);
    mkdir(dir.c_str(), 0755);
    copyFileTo(INSTALLER_BINARY, dir + "/installer");
    for (const std::string& word : splitWords(INSTALLER_EMULATOR))
        copyFileTo(word, dir + "/" + baseName(word));
    if (!splitWords(INSTALLER_EMULATOR).empty())
        return;
    RunResult ldd = runProcess({"/usr/bin/ldd", INSTALLER_BINARY}, "", {});
    std::istringstream lines(ldd.out);
    std::string line;
    while (std::getline(lines, line)) {
        for (const std::string& word : splitWords(line)) {
            if (word.size() > 1 && word[0] == '/') {
                copyFileTo(word, dir + "/" + baseName(word));
                if (word.find("/ld-linux") != std::string::npos)
                    copyFileTo(word, dir + "/ld.so");
            }
        }
    }
}

RunResult DeviceRoot::runInside(const std::vector<std::string>& args, const std::string& input,
                                const std::vector<std::string>& env) const {
    installBinaryInside();
    std::string inside = std::string("/") + InsideDir + "/";
    std::vector<std::string> argv;
    std::vector<std::string> emulator = splitWords(INSTALLER_EMULATOR);
    if (!emulator.empty()) {
        argv.push_back(inside + baseName(emulator[0]));
        argv.insert(argv.end(), emulator.begin() + 1, emulator.end());
        argv.push_back(inside + "installer");
    } else if (exists(std::string(InsideDir) + "/ld.so")) {
        argv = {inside + "ld.so", "--library-path", inside, inside + "installer"};
    } else {
        argv.push_back(inside + "installer");
    }
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> allEnv = env;
    // The leak check can't follow the process into the root.
    allEnv.push_back("ASAN_OPTIONS=detect_leaks=0");
    return runProcess(argv, input, allEnv, Start::EnterRoot, rootPath);
}

bool runInRoot(const std::string& root, const std::function<void()>& body) {
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        if (!enterRoot(root)) {
            fprintf(stderr, "could not enter %s: %s\n", root.c_str(), strerror(errno));
            _exit(2);
        }
        body();
        fflush(nullptr);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

RunResult runBuiltProgram(const std::string& binary, const std::vector<std::string>& args,
                          const std::string& input, const std::vector<std::string>& env) {
    std::vector<std::string> argv = splitWords(INSTALLER_EMULATOR);
    argv.push_back(binary);
    argv.insert(argv.end(), args.begin(), args.end());
    return runProcess(argv, input, env);
}

namespace {

// In a child with a mount namespace of its own: mounts a tmpfs at each dir of mounts,
// enters root when enter is set, and runs body; true when body's assertions held.
bool runWithMountsIn(const std::string& root, const std::vector<TestMount>& mounts, bool enter,
                     const std::function<void()>& body) {
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        if (!gainRoot() || unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            fprintf(stderr, "no mount namespace: %s\n", strerror(errno));
            _exit(2);
        }
        for (const TestMount& m : mounts) {
            std::string dir = root + "/" + m.dir;
            mkdir(dir.c_str(), 0755);
            if (mount("tmpfs", dir.c_str(), "tmpfs", 0, m.options.c_str()) != 0) {
                fprintf(stderr, "could not mount %s: %s\n", dir.c_str(), strerror(errno));
                _exit(2);
            }
        }
        if (enter && (chroot(root.c_str()) != 0 || chdir("/") != 0)) {
            fprintf(stderr, "could not enter %s: %s\n", root.c_str(), strerror(errno));
            _exit(2);
        }
        body();
        fflush(nullptr);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

bool runInRootWithMounts(const std::string& root, const std::vector<TestMount>& mounts,
                         const std::function<void()>& body) {
    return runWithMountsIn(root, mounts, true, body);
}

bool runWithMounts(const std::string& root, const std::vector<TestMount>& mounts,
                   const std::function<void()>& body) {
    return runWithMountsIn(root, mounts, false, body);
}

std::string captureOutput(int fd, const std::function<void()>& body) {
    std::cout.flush();
    std::cerr.flush();
    fflush(nullptr);
    FILE* file = tmpfile();
    if (file == nullptr)
        return std::string();
    int saved = dup(fd);
    dup2(fileno(file), fd);
    body();
    std::cout.flush();
    std::cerr.flush();
    fflush(nullptr);
    dup2(saved, fd);
    close(saved);
    std::string text;
    rewind(file);
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, n);
    fclose(file);
    return text;
}

std::string sourcePath(const std::string& relative) {
    return std::string(INSTALLER_SOURCE_DIR) + "/" + relative;
}
