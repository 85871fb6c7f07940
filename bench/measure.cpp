// Timing helper of the benchmarks: runs a command several times, each after an untimed
// setup, and prints the median wall time, the median peak resident memory and the median
// processor time of the command (and of the processes it waited for).
//
// usage: measure [--runs N] [--setup SHELL] [--check SHELL] [--stdin FILE] [--sync]
//                -- COMMAND ARG...
// --sync charges the command one sync() after it ends: the time runs until the data the
// command left in the page cache is on the disk.
// Output: one line "SECONDS KIB CPU-SECONDS". A run whose command fails, or after which the check
// fails, ends the helper with status 1, so that a failed install is never reported as a
// time.
//
// The peak comes from wait4. The kernel counts in it the memory the child had before its
// exec, that is this helper's own, which is why the helper is small and linked statically.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Options {
    int runs = 5;
    std::string setup;
    std::string check;
    std::string stdinPath;
    bool syncAfter = false;
    std::vector<char*> command;
};

struct Sample {
    double seconds = 0;
    long peakKib = 0;
    double cpuSeconds = 0;  // user and system
};

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "measure: %s\n", what);
    std::exit(1);
}

bool readOptions(int argc, char** argv, Options& options) {
    int i = 1;
    for (; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg == "--sync") {
            options.syncAfter = true;
            continue;
        }
        if (i + 1 >= argc)
            return false;
        if (arg == "--runs")
            options.runs = std::atoi(argv[++i]);
        else if (arg == "--setup")
            options.setup = argv[++i];
        else if (arg == "--check")
            options.check = argv[++i];
        else if (arg == "--stdin")
            options.stdinPath = argv[++i];
        else
            return false;
    }
    for (; i < argc; ++i)
        options.command.push_back(argv[i]);
    options.command.push_back(nullptr);
    return options.runs > 0 && options.command.size() > 1;
}

bool runShell(const std::string& text) {
    return text.empty() || std::system(text.c_str()) == 0;
}

double now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Points descriptor target at path (opened with flags); in the child only.
void redirect(int target, const char* path, int flags) {
    int fd = open(path, flags, 0644);
    if (fd < 0 || dup2(fd, target) < 0)
        _exit(126);
    close(fd);
}

// Shows what the command wrote to standard error, and ends the helper with status 1.
[[noreturn]] void failWithErrors(const char* path) {
    if (FILE* in = std::fopen(path, "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, in))
            std::fputs(line, stderr);
        std::fclose(in);
    }
    unlink(path);
    std::exit(1);
}

Sample runOnce(const Options& options, const char* errorPath) {
    double start = now();
    pid_t child = fork();
    if (child < 0)
        fail("fork failed");
    if (child == 0) {
        if (!options.stdinPath.empty())
            redirect(STDIN_FILENO, options.stdinPath.c_str(), O_RDONLY);
        redirect(STDOUT_FILENO, "/dev/null", O_WRONLY);
        redirect(STDERR_FILENO, errorPath, O_WRONLY | O_CREAT | O_TRUNC);
        execvp(options.command[0], options.command.data());
        _exit(127);
    }
    int status = 0;
    rusage usage;
    if (wait4(child, &status, 0, &usage) != child)
        fail("wait4 failed");
    if (options.syncAfter)
        sync();
    double cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    Sample sample{now() - start, usage.ru_maxrss, cpu};
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "measure: %s exited with status %d\n", options.command[0],
                     WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
        failWithErrors(errorPath);
    }
    return sample;
}

template <typename T>
T median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    if (values.size() % 2 == 1)
        return values[middle];
    return (values[middle - 1] + values[middle]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!readOptions(argc, argv, options))
        fail(
            "usage: measure [--runs N] [--setup SHELL] [--check SHELL] [--stdin FILE] [--sync] "
            "-- COMMAND ARG...");
    char errorPath[] = "/tmp/measure-errors-XXXXXX";
    int errorFd = mkstemp(errorPath);
    if (errorFd < 0)
        fail("no temporary file");
    close(errorFd);
    std::vector<double> seconds;
    std::vector<long> peaks;
    std::vector<double> cpuSeconds;
    for (int run = 0; run < options.runs; ++run) {
        if (!runShell(options.setup))
            fail("setup failed");
        // What the setup wrote is flushed now, so that a command's own sync does not pay
        // for it.
        sync();
        Sample sample = runOnce(options, errorPath);
        if (!runShell(options.check)) {
            std::fprintf(stderr, "measure: check failed after %s\n", options.command[0]);
            failWithErrors(errorPath);
        }
        seconds.push_back(sample.seconds);
        peaks.push_back(sample.peakKib);
        cpuSeconds.push_back(sample.cpuSeconds);
    }
    unlink(errorPath);
    std::printf("%.4f %ld %.4f\n", median(seconds), median(peaks), median(cpuSeconds));
    return 0;
}
