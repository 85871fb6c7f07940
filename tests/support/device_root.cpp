// Test support: temporary device roots and running code and the installer inside them.
#include "support/device_root.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <sstream>

#include <gtest/gtest.h>

#include "support/files.h"

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

namespace fs = std::filesystem;

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

bool changeRoot(const std::string& root) {
    return chroot(root.c_str()) == 0 && chdir("/") == 0;
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
    return WIFEXITED(status)     ? WEXITSTATUS(status)
           : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                 : -1;
}

// All that was written to file, which is then closed.
std::string takeContent(FILE* file) {
    std::string text;
    rewind(file);
    char chunk[65536];
    for (size_t n; (n = fread(chunk, 1, sizeof chunk, file)) > 0;)
        text.append(chunk, n);
    fclose(file);
    return text;
}

// Runs argv with input on standard input (a pipe), capturing both outputs. With a root
// the child sees /proc inside it, so that the sanitizers still work there whether the
// child enters the root itself (enter) or the installer does ("-r").
RunResult runProcess(const std::vector<std::string>& argv, const std::string& input,
                     const std::vector<std::string>& env, const std::string& root = "",
                     bool enter = false) {
    RunResult result;
    // The outputs go to files, so the child never waits for this process to read them.
    FILE* out = tmpfile();
    FILE* err = tmpfile();
    int inPipe[2];
    if (out == nullptr || err == nullptr || pipe(inPipe) != 0)
        return result;
    // A child that exits without reading all of its input must not kill the test with
    // SIGPIPE; the child gets the default action back before exec.
    signal(SIGPIPE, SIG_IGN);
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGPIPE, SIG_DFL);
        dup2(inPipe[0], 0);
        dup2(fileno(out), 1);
        dup2(fileno(err), 2);
        close(inPipe[0]);
        close(inPipe[1]);
        if (!gainRoot())
            _exit(126);
        if (!root.empty())
            showProcInside(root);
        if (enter && !changeRoot(root))
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
    for (size_t written = 0; written < input.size();) {
        ssize_t n = write(inPipe[1], input.data() + written, input.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += size_t(n);
    }
    close(inPipe[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = decodeStatus(status);
    result.out = takeContent(out);
    result.err = takeContent(err);
    return result;
}

// The program (under the emulator of a cross build) with args.
std::vector<std::string> programCommand(const std::string& binary,
                                        const std::vector<std::string>& args) {
    std::vector<std::string> argv = splitWords(INSTALLER_EMULATOR);
    argv.push_back(binary);
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

void copyFileTo(const std::string& from, const std::string& to) {
    putFile(to, fileText(from), 0755);
}

std::string baseName(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

// Forks a child that runs enter, then body; true when enter succeeded and body's
// assertions held.
bool passesInChild(const std::function<bool()>& enter, const std::function<void()>& body) {
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        if (!enter())
            _exit(2);
        body();
        fflush(nullptr);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && decodeStatus(status) == 0;
}

bool failed(const std::string& what) {
    fprintf(stderr, "%s: %s\n", what.c_str(), strerror(errno));
    return false;
}

// In a mount namespace of its own, mounts a tmpfs at each dir of mounts and, when enter
// is set, enters root.
bool prepareMounts(const std::string& root, const std::vector<TestMount>& mounts, bool enter) {
    if (!gainRoot() || unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return failed("no mount namespace");
    for (const TestMount& m : mounts) {
        std::string dir = root + "/" + m.dir;
        mkdir(dir.c_str(), 0755);
        if (mount("tmpfs", dir.c_str(), "tmpfs", 0, m.options.c_str()) != 0)
            return failed("could not mount " + dir);
    }
    return !enter || changeRoot(root) || failed("could not enter " + root);
}

}  // namespace

DeviceRoot::DeviceRoot() {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/device-root-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp failed: " << strerror(errno);
        return;
    }
    rootPath = pattern;
    for (const char* dir : {"flash/boot", "flash/var/pdb", "ram", "rw/pckg/.download", "tmp"})
        makeDir(dir);
}

DeviceRoot::~DeviceRoot() {
    std::error_code ignored;
    if (!rootPath.empty() && getenv("KEEP_DEVICE_ROOT") == nullptr)
        fs::remove_all(rootPath, ignored);
}

std::string DeviceRoot::path(const std::string& relative) const {
    return rootPath + (!relative.empty() && relative[0] == '/' ? "" : "/") + relative;
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
    putFile(full, content, mode);
}

std::string DeviceRoot::readFile(const std::string& relative) const {
    return fileText(path(relative));
}

bool DeviceRoot::exists(const std::string& relative) const {
    return pathPresent(path(relative));
}

std::string DeviceRoot::linkTarget(const std::string& relative) const {
    std::error_code ignored;
    return fs::read_symlink(path(relative), ignored).string();
}

std::map<std::string, std::string> DeviceRoot::snapshot() const {
    std::map<std::string, std::string> tree;
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(
             rootPath, fs::directory_options::skip_permission_denied, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        std::string rel = it->path().string().substr(rootPath.size() + 1);
        if (rel == InsideDir || rel == ProcDir) {
            it.disable_recursion_pending();
        } else if (it->is_symlink(ignored)) {
            tree[rel] = "-> " + fs::read_symlink(it->path(), ignored).string();
        } else if (it->is_directory(ignored)) {
            tree[rel + "/"] = "";
        } else {
            tree[rel] = fileText(it->path());
        }
    }
    return tree;
}

RunResult DeviceRoot::run(const std::vector<std::string>& args, const std::string& input,
                          const std::vector<std::string>& env) const {
    return runProcess(programCommand(INSTALLER_BINARY, args), input, env);
}

RunResult DeviceRoot::runOnRoot(const std::vector<std::string>& args, const std::string& input,
                                const std::vector<std::string>& env) const {
    std::vector<std::string> all = {"-r", rootPath};
    all.insert(all.end(), args.begin(), args.end());
    return runProcess(programCommand(INSTALLER_BINARY, all), input, env, rootPath);
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
    for (const std::string& word :
         splitWords(runProcess({"/usr/bin/ldd", INSTALLER_BINARY}, "", {}).out)) {
        if (word.size() > 1 && word[0] == '/') {
            copyFileTo(word, dir + "/" + baseName(word));
            if (word.find("/ld-linux") != std::string::npos)
                copyFileTo(word, dir + "/ld.so");
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
    return runProcess(argv, input, allEnv, rootPath, true);
}

bool runInRoot(const std::string& root, const std::function<void()>& body) {
    return passesInChild(
        [&] { return (gainRoot() && changeRoot(root)) || failed("could not enter " + root); },
        body);
}

RunResult runBuiltProgram(const std::string& binary, const std::vector<std::string>& args,
                          const std::string& input, const std::vector<std::string>& env) {
    return runProcess(programCommand(binary, args), input, env);
}

bool runInRootWithMounts(const std::string& root, const std::vector<TestMount>& mounts,
                         const std::function<void()>& body) {
    return passesInChild([&] { return prepareMounts(root, mounts, true); }, body);
}

bool runWithMounts(const std::string& root, const std::vector<TestMount>& mounts,
                   const std::function<void()>& body) {
    return passesInChild([&] { return prepareMounts(root, mounts, false); }, body);
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
    return takeContent(file);
}

std::string sourcePath(const std::string& relative) {
    return std::string(INSTALLER_SOURCE_DIR) + "/" + relative;
}
