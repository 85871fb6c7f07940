// Small file helpers of the staged file operations.
#include "stage/file_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "stage/flash_path.h"
#include "stage/signal_guard.h"
#include "stage/temporaries.h"

namespace {
// The temporary names of the AtomicFiles in use, where a signal handler can read them
// without allocating. A run holds few at once: the post-install log, a database file.
constexpr int TrackedFiles = 4;
char openTemporaries[TrackedFiles][PATH_MAX];
}  // namespace

std::string parentDirectory(const std::string& path) {
    size_t end = path.find_last_not_of('/');
    if (end == std::string::npos)
        return path.empty() ? "." : "/";
    size_t slash = path.rfind('/', end);
    if (slash == std::string::npos)
        return ".";
    size_t parentEnd = path.find_last_not_of('/', slash);
    if (parentEnd == std::string::npos)
        return "/";
    return path.substr(0, parentEnd + 1);
}

std::string lastName(const std::string& path) {
    size_t end = path.find_last_not_of('/');
    if (end == std::string::npos)
        return std::string();
    size_t slash = path.rfind('/', end);
    return path.substr(slash == std::string::npos ? 0 : slash + 1,
                       end - (slash == std::string::npos ? 0 : slash + 1) + 1);
}

mode_t currentUmask() {
    mode_t mask = umask(0);
    umask(mask);
    return mask;
}

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= size_t(written);
    }
    return true;
}

bool syncDirectory(const std::string& folder) {
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

AtomicFile::AtomicFile(const std::string& target) : target(target) {
    // A power cut may leave the temporary file behind: the next start must look for it.
    if (isUnderFlash(target) && !markStaging()) {
        error = errno;
        return;
    }
    // A signal that ends the run while the file is open deletes it: it must know the name
    // from the moment the file exists.
    staging::Busy change;
    // A new file gets the mode a plain create would give it.
    fd = createTemporary(parentDirectory(target), 0666 & ~currentUmask(), temporary);
    if (fd < 0) {
        error = errno;
        temporary.clear();
        return;
    }
    track();
}

AtomicFile::~AtomicFile() {
    if (fd >= 0)
        close(fd);
    if (!temporary.empty())
        unlink(temporary.c_str());
    untrack();
}

void AtomicFile::track() {
    for (int i = 0; i < TrackedFiles && temporary.size() < PATH_MAX; ++i)
        if (openTemporaries[i][0] == '\0') {
            std::memcpy(openTemporaries[i], temporary.c_str(), temporary.size() + 1);
            slot = i;
            return;
        }
}

void AtomicFile::untrack() {
    if (slot < 0)
        return;
    staging::Busy change;
    openTemporaries[slot][0] = '\0';
    slot = -1;
}

void deleteOpenAtomicFiles() {
    for (const char* name : openTemporaries)
        if (name[0] != '\0')
            unlink(name);
}

bool AtomicFile::write(const std::string& text) {
    if (fd < 0 || failed)
        return false;
    pending += text;
    written += off_t(text.size());
    return pending.size() < WriteBlock || flush();
}

// Writes what is pending; false once anything failed.
bool AtomicFile::flush() {
    if (!failed && !pending.empty() && !writeAll(fd, pending.data(), pending.size())) {
        failed = true;
        error = errno;
    }
    pending.clear();
    return !failed;
}

void AtomicFile::rewind() {
    flush();
    if (fd >= 0 && lseek(fd, 0, SEEK_SET) == 0) {
        rewound = true;
        written = 0;
    }
}

// The order keeps the target whole: the data is flushed before the rename exposes it, and
// the folder after it, so that the rename itself survives a power cut.
bool AtomicFile::commit() {
    if (fd < 0 || !flush()) {
        errno = error;
        return false;
    }
    bool ok = (!rewound || ftruncate(fd, written) == 0) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    fd = -1;
    if (ok && rename(temporary.c_str(), target.c_str()) == 0) {
        temporary.clear();
        untrack();
        syncDirectory(parentDirectory(target));
        return true;
    }
    return false;
}

bool replaceFileContents(const std::string& file, const std::string& text) {
    AtomicFile out(file);
    return out.write(text) && out.commit();
}
