// Staging the removal of an installed package: its files, its database entry and the
// boot image it owned.
#include <sys/stat.h>

#include "pkg/database.h"
#include "pkg/package.h"
#include "platform/device_paths.h"
#include "stage/manifest.h"

namespace {

// The boot image is removed only when no other name links to it.
bool bootImageHasOneLink() {
    struct stat st;
    return lstat(device::BootImage, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1;
}

}  // namespace

void removePackage(InstalledPackage& package, Manifest& manifest) {
    // files hold paths below /flash with their leading "/": the staged path keeps the
    // doubled slash ("/flash//bin/x"), so a new file that the same run stages at
    // "/flash/bin/x" is a different entry and survives; the commit then lets the new
    // file's rename replace the old one.
    // A folder that the list names is left to the commit, which never removes one.
    for (std::string_view file : package.files)
        manifest.stageRemove(std::string(device::Flash) + "/" + std::string(file));
    package.files.clear();
    std::string dir = packageDir(package);
    manifest.stageRemove(dir);
    manifest.stageRemove(join(dir, "image"));
    if ((package.flags & FlagBootImage) != 0 && bootImageHasOneLink())
        manifest.stageRemove(device::BootImage);
    package.action = ScheduledAction::None;
}
