// Test support: a temporary device root, the installer run on it, and code run inside it.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/files.h"

// Env entries of a run that the child does not get: "RLIMIT_AS=<bytes>" limits its address
// space; "SIGNAL_AT_PAUSE=<number>" sends that signal in place of the second half of the
// input when "PAUSE_INPUT_MS=<ms>" (which it gets) pauses between the halves.
constexpr char AddressSpaceLimit[] = "RLIMIT_AS=";

struct RunResult {
    int status = -1;  // exit status, or 128 + signal
    std::string out, err;
};

class DeviceRoot {
  public:
    // Makes flash/, flash/boot/, flash/var/pdb/, ram/, rw/pckg/.download/ and tmp/.
    DeviceRoot();
    ~DeviceRoot();
    DeviceRoot(const DeviceRoot&) = delete;
    DeviceRoot& operator=(const DeviceRoot&) = delete;

    const std::string& root() const { return rootPath; }
    // root + "/" + relative path (a leading "/" of relative is allowed).
    std::string path(const std::string& relative) const {
        return rootPath + (relative[0] == '/' ? "" : "/") + relative;
    }
    void makeDir(const std::string& relative) const;
    // Writes a file, making its parent directories.
    void writeFile(const std::string& relative, const std::string& content,
                   unsigned mode = 0644) const;
    std::string readFile(const std::string& relative) const { return fileText(path(relative)); }
    bool exists(const std::string& relative) const { return pathPresent(path(relative)); }
    // The target of a link, "" when relative is no link.
    std::string linkTarget(const std::string& relative) const;
    // Every path under the root (directories ending in "/") to its content ("-> target"
    // for links), less what runInside copies in.
    std::map<std::string, std::string> snapshot() const;

    // Runs "installer -r ROOT args..." with input and env entries "NAME=value" added.
    RunResult runOnRoot(const std::vector<std::string>& args, const std::string& input = "",
                        const std::vector<std::string>& env = {}) const;
    // Runs the installer inside the root (for --commit and --cancel, which ignore "-r").
    RunResult runInside(const std::vector<std::string>& args, const std::string& input = "",
                        const std::vector<std::string>& env = {}) const;

  private:
    std::string rootPath;
};

// Runs body in a child chrooted to root (in a user namespace when not root); false when an
// assertion in it failed or it died.
bool runInRoot(const std::string& root, const std::function<void()>& body);
// Runs a program of the build (under the emulator of a cross build) as runOnRoot does.
RunResult runBuiltProgram(const std::string& binary, const std::vector<std::string>& args,
                          const std::string& input = "", const std::vector<std::string>& env = {});

// A tmpfs mounted for one test at dir (relative to the root) with options ("size=64k").
struct TestMount {
    std::string dir, options;
};
// As runInRoot, in a private mount namespace in which a tmpfs is mounted at each dir of
// mounts (in order, so a mount can lie inside an earlier one) before entering the root.
bool runInRootWithMounts(const std::string& root, const std::vector<TestMount>& mounts,
                         const std::function<void()>& body);
// As runInRootWithMounts, but body runs without changing root, seeing the mounts.
bool runWithMounts(const std::string& root, const std::vector<TestMount>& mounts,
                   const std::function<void()>& body);

// What body writes to file descriptor fd (1 or 2).
std::string captureOutput(int fd, const std::function<void()>& body);
// Path of a file of the source tree (for committed test data).
std::string sourcePath(const std::string& relative);
