// Small file helpers of the staged file operations.
#include "stage/file_util.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "stage/manifest.h"

mode_t currentUmask() {
    mode_t mask = umask(0);
    umask(mask);
    return mask;
}

int makeTemporaryBeside(const std::string& target, std::string& name) {
    std::string pattern = parentDirectory(target) + "/tmpXXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    int fd = mkstemp(buffer.data());
    if (fd >= 0)
        name = buffer.data();
    return fd;
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

bool replaceFileContents(const std::string& file, const std::string& text) {
    std::string temporary;
    int fd = makeTemporaryBeside(file, temporary);
    if (fd < 0)
        return false;
    // A new file gets the mode a plain create would give it, not mkstemp's 0600.
    bool ok = fchmod(fd, 0666 & ~currentUmask()) == 0 && writeAll(fd, text.data(), text.size()) &&
              fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    // Renamed only when complete: a reader never sees a file cut short.
    if (ok && rename(temporary.c_str(), file.c_str()) == 0)
        return true;
    int error = errno;
    unlink(temporary.c_str());
    errno = error;
    return false;
}
