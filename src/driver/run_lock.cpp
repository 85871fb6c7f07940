// One run at a time: an flock on /flash.
#include "driver/run_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "pkg/package_set.h"
#include "platform/device_paths.h"

namespace {

constexpr unsigned DefaultWaitSeconds = 120;
constexpr long PollMilliseconds = 50;

void pause(long milliseconds) {
    struct timespec step = {0, milliseconds * 1000000L};
    while (nanosleep(&step, &step) != 0 && errno == EINTR) {
    }
}

double now() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

}  // namespace

RunLock::~RunLock() {
    if (fd >= 0)
        close(fd);
}

unsigned RunLock::waitSeconds() {
    const char* text = getenv("INSTALLER_LOCK_WAIT");
    char* end = nullptr;
    unsigned long seconds = text ? strtoul(text, &end, 10) : DefaultWaitSeconds;
    if (text && (end == text || *end != '\0' || seconds > 86400))
        seconds = DefaultWaitSeconds;
    return unsigned(seconds);
}

bool RunLock::acquire(PackageSet& set, bool exclusive) {
    fd = open(device::Flash, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT;
    return take(set, exclusive ? LOCK_EX : LOCK_SH);
}

bool RunLock::makeExclusive(PackageSet& set) {
    return fd < 0 || take(set, LOCK_EX);
}

void RunLock::makeShared() {
    if (fd >= 0)
        flock(fd, LOCK_SH);
}

bool RunLock::take(PackageSet& set, int operation) {
    double deadline = now() + waitSeconds();
    for (;;) {
        if (flock(fd, operation | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return true;  // a file system without locks: nothing to wait for
        if (now() >= deadline) {
            set.error("another installer run is still going on: gave up after %u seconds",
                      waitSeconds());
            return false;
        }
        if (!waited)
            set.info("waiting for another installer run to end...");
        waited = true;
        pause(PollMilliseconds);
    }
}
