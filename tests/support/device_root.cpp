// Test support: temporary device roots and running code and the installer inside them.
#include "support/device_root.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iterator>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

const std::string InsideDir = ".test-bin";

std::vector<std::string> splitWords(const std::string& text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

const std::vector<std::string> Emulator = splitWords(INSTALLER_EMULATOR);

// The right to chroot and mount: as root already, else in a user namespace.
bool gainRoot() {
    std::string uid = std::to_string(geteuid()), gid = std::to_string(getegid());
    if (uid == "0")
        return true;
    if (unshare(CLONE_NEWUSER) != 0)
        return false;
    std::ofstream("/proc/self/setgroups") << "deny";
    std::ofstream("/proc/self/uid_map") << "0 " << uid << " 1";
    std::ofstream("/proc/self/gid_map") << "0 " << gid << " 1";
    return true;
}

bool failed(const std::string& what) {
    fprintf(stderr, "%s: %s\n", what.c_str(), strerror(errno));
    return false;
}

bool changeRoot(const std::string& root) {
    return (chroot(root.c_str()) == 0 && chdir("/") == 0) || failed("could not enter " + root);
}

bool privateMounts() {
    return unshare(CLONE_NEWNS) == 0 &&
           mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

int decodeStatus(int status) {
    return WIFEXITED(status)     ? WEXITSTATUS(status)
           : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                 : -1;
}

// All that was written to file, which is then closed.
std::string takeContent(FILE* file) {
    fseek(file, 0, SEEK_END);
    std::string text(size_t(ftell(file)), '\0');
    rewind(file);
    text.resize(fread(&text[0], 1, text.size(), file));
    fclose(file);
    return text;
}

// The number in the env entry that starts with name, 0 when there is none.
unsigned long long envNumber(const std::vector<std::string>& env, const std::string& name) {
    for (const std::string& entry : env)
        if (entry.rfind(name, 0) == 0)
            return strtoull(entry.c_str() + name.size(), nullptr, 10);
    return 0;
}

// Runs argv with input, both outputs captured in files (so the child never waits for this
// process to read them). With a root the child sees /proc inside it, for the sanitizers,
// whether it enters the root itself (enter) or the installer does with "-r".
RunResult runProcess(std::vector<std::string> argv, const std::string& input,
                     const std::vector<std::string>& env, const std::string& root = "",
                     bool enter = false) {
    FILE* out = tmpfile();
    FILE* err = tmpfile();
    int inPipe[2];
    // Close-on-exec: a run started meanwhile by another thread must not hold this input
    // open. A child that leaves input unread must not kill the test.
    if (out == nullptr || err == nullptr || pipe2(inPipe, O_CLOEXEC) != 0)
        return {};
    signal(SIGPIPE, SIG_IGN);
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGPIPE, SIG_DFL);
        dup2(inPipe[0], 0);
        dup2(fileno(out), 1);
        dup2(fileno(err), 2);
        std::string proc = root + "/proc";
        if (!gainRoot())
            _exit(126);
        if (!root.empty() && privateMounts()) {
            mkdir(proc.c_str(), 0555);
            mount("/proc", proc.c_str(), nullptr, MS_BIND | MS_REC, nullptr);
        }
        if (enter && !changeRoot(root))
            _exit(126);
        if (rlim_t bytes = envNumber(env, AddressSpaceLimit)) {
            struct rlimit limit = {bytes, bytes};
            setrlimit(RLIMIT_AS, &limit);
        }
        std::vector<char*> args;
        for (const std::string& entry : env)
            if (entry.rfind(AddressSpaceLimit, 0) != 0)
                putenv(strdup(entry.c_str()));
        for (std::string& arg : argv)
            args.push_back(arg.data());
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(inPipe[0]);
    size_t pause = envNumber(env, "PAUSE_INPUT_MS="), half = pause ? input.size() / 2 : 0;
    int signalAtPause = int(envNumber(env, "SIGNAL_AT_PAUSE="));
    ssize_t written = write(inPipe[1], input.data(), half);
    if (pause && written >= 0)
        usleep(useconds_t(pause * 1000));
    if (signalAtPause)
        kill(pid, signalAtPause);
    else
        written = write(inPipe[1], input.data() + half, input.size() - half);
    close(inPipe[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    return {decodeStatus(status), takeContent(out), takeContent(err)};
}

// The program (under the emulator of a cross build) with args.
std::vector<std::string> programCommand(const std::string& binary,
                                        const std::vector<std::string>& args) {
    std::vector<std::string> argv = Emulator;
    argv.push_back(binary);
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

// Forks a child that runs enter, then body; true when enter succeeded and body's checks held.
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

// In a mount namespace of its own, mounts a tmpfs at each dir of mounts.
bool prepareMounts(const std::string& root, const std::vector<TestMount>& mounts) {
    if (!gainRoot() || !privateMounts())
        return failed("no mount namespace");
    for (const TestMount& m : mounts) {
        std::string dir = root + "/" + m.dir;
        mkdir(dir.c_str(), 0755);
        if (mount("tmpfs", dir.c_str(), "tmpfs", 0, m.options.c_str()) != 0)
            return failed("could not mount " + dir);
    }
    return true;
}

}  // namespace

DeviceRoot::DeviceRoot() {
    std::string pattern = fs::temp_directory_path() / "device-root-XXXXXX";
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

void DeviceRoot::makeDir(const std::string& relative) const {
    std::error_code ignored;
    fs::create_directories(path(relative), ignored);
}

void DeviceRoot::writeFile(const std::string& relative, const std::string& content,
                           unsigned mode) const {
    makeDir(fs::path(relative).parent_path());
    putFile(path(relative), content, mode);
}

std::string DeviceRoot::linkTarget(const std::string& relative) const {
    std::error_code ignored;
    return fs::read_symlink(path(relative), ignored).string();
}

std::map<std::string, std::string> DeviceRoot::snapshot() const {
    std::map<std::string, std::string> tree;
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(rootPath, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        std::string rel = it->path().string().substr(rootPath.size() + 1);
        if (rel == InsideDir || rel == "proc")
            it.disable_recursion_pending();
        else if (it->is_symlink(ignored))
            tree[rel] = "-> " + linkTarget(rel);
        else
            tree[rel + (it->is_directory(ignored) ? "/" : "")] = fileText(it->path());
    }
    return tree;
}

RunResult DeviceRoot::runOnRoot(const std::vector<std::string>& args, const std::string& input,
                                const std::vector<std::string>& env) const {
    std::vector<std::string> all = {"-r", rootPath};
    all.insert(all.end(), args.begin(), args.end());
    return runProcess(programCommand(INSTALLER_BINARY, all), input, env, rootPath);
}

// Copies the installer into the root, once, with the emulator of a cross build, else the
// libraries that ldd names (the dynamic loader as ld.so), and runs it there.
RunResult DeviceRoot::runInside(const std::vector<std::string>& args, const std::string& input,
                                const std::vector<std::string>& env) const {
    const std::string dir = path(InsideDir) + "/", inside = "/" + InsideDir + "/";
    if (!pathPresent(dir + "installer")) {
        makeDir(InsideDir);
        putFile(dir + "installer", fileText(INSTALLER_BINARY), 0755);
        for (const std::string& file :
             Emulator.empty()
                 ? splitWords(runProcess({"/usr/bin/ldd", INSTALLER_BINARY}, "", {}).out)
                 : std::vector<std::string>{Emulator[0]}) {
            bool loader = file.find("/ld-linux") != std::string::npos;
            if (file[0] == '/')
                putFile(dir + (loader ? "ld.so" : fs::path(file).filename().string()),
                        fileText(file), 0755);
        }
    }
    std::vector<std::string> argv = {inside + "installer"};
    if (!Emulator.empty()) {
        argv.insert(argv.begin(), Emulator.begin() + 1, Emulator.end());
        argv.insert(argv.begin(), inside + fs::path(Emulator[0]).filename().string());
    } else if (pathPresent(dir + "ld.so")) {
        argv.insert(argv.begin(), {inside + "ld.so", "--library-path", inside});
    }
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> allEnv = env;
    allEnv.push_back("ASAN_OPTIONS=detect_leaks=0");  // the leak check can't follow into the root
    return runProcess(argv, input, allEnv, rootPath, true);
}

bool runInRoot(const std::string& root, const std::function<void()>& body) {
    return passesInChild([&] { return gainRoot() && changeRoot(root); }, body);
}

RunResult runBuiltProgram(const std::string& binary, const std::vector<std::string>& args,
                          const std::string& input, const std::vector<std::string>& env) {
    return runProcess(programCommand(binary, args), input, env);
}

bool runInRootWithMounts(const std::string& root, const std::vector<TestMount>& mounts,
                         const std::function<void()>& body) {
    return passesInChild([&] { return prepareMounts(root, mounts) && changeRoot(root); }, body);
}

bool runWithMounts(const std::string& root, const std::vector<TestMount>& mounts,
                   const std::function<void()>& body) {
    return passesInChild([&] { return prepareMounts(root, mounts); }, body);
}

std::string captureOutput(int fd, const std::function<void()>& body) {
    FILE* file = tmpfile();
    if (file == nullptr)
        return "";
    fflush(nullptr);
    int saved = dup(fd);
    dup2(fileno(file), fd);
    body();
    fflush(nullptr);
    dup2(saved, fd);
    close(saved);
    return takeContent(file);
}

std::string sourcePath(const std::string& relative) {
    return std::string(INSTALLER_SOURCE_DIR) + "/" + relative;
}
