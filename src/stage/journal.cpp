// The commit journal on flash.
#include "stage/journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/device_paths.h"
#include "platform/file_checks.h"
#include "stage/file_util.h"
#include "stage/flash_path.h"
#include "stage/manifest.h"

namespace journal {

namespace {

// The journal's path through real folders; the database folder is made when missing. False
// when a link on the way leads out of /flash.
bool locate(std::string& real, bool make) {
    FlashPaths paths;
    PathStatus status = paths.resolve(device::Journal, real, nullptr, make);
    if (status == PathStatus::Ok)
        return true;
    errno = errorNumberOf(status);
    return false;
}

}  // namespace

bool exists() {
    std::string real;
    return locate(real, false) && ::exists(real);
}

bool write(const Manifest& manifest) {
    std::string real;
    return locate(real, true) && manifest.save(real);
}

bool noteCopied(const std::string& target) {
    std::string real;
    if (!locate(real, false))
        return false;
    int fd = open(real.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::string line = "D " + escapeField(target) + "\n";
    bool ok = writeAll(fd, line.data(), line.size()) && fdatasync(fd) == 0;
    return close(fd) == 0 && ok;
}

void remove() {
    std::string real;
    if (locate(real, false) && unlink(real.c_str()) == 0)
        syncDirectory(parentDirectory(real));
}

}  // namespace journal
