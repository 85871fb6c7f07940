// Questions about a path, asked of the file system.
#include "platform/file_checks.h"

#include <sys/stat.h>

namespace {

bool status(const std::string& path, Follow follow, struct stat& st) {
    return (follow == Follow::Yes ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) == 0;
}

}  // namespace

bool exists(const std::string& path, Follow follow) {
    struct stat st;
    return status(path, follow, st);
}

bool isRegularFile(const std::string& path, Follow follow) {
    struct stat st;
    return status(path, follow, st) && S_ISREG(st.st_mode);
}

bool isFolder(const std::string& path, Follow follow) {
    struct stat st;
    return status(path, follow, st) && S_ISDIR(st.st_mode);
}
