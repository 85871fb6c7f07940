// Fuzz target: the install of one package stream (unpacking, inflating, signature
// check, database entry) into a throwaway manifest, in a private device root that holds
// a small installed system. After each input the manifest is discarded and the root must
// be exactly as before: nothing may be written outside the manifest's temporary files,
// and nothing may be staged outside /flash.
#include <cstdlib>
#include <sstream>
#include <string>

#include "pkg/database.h"
#include "pkg/package_set.h"
#include "plan/install_driver.h"
#include "private_root.h"
#include "stage/commit.h"
#include "stage/manifest.h"

namespace {

std::set<std::string> initialTree;

// An installed system for the inputs to upgrade, depend on and conflict with.
void writeInstalledSystem() {
    const std::string db = "/flash/var/pdb/";
    writeWholeFile(db + "system/version", "118515200 1700000000\n");  // 7.16
    writeWholeFile(db + "system/deps", "");
    writeWholeFile(db + "system/files", "bin/sh\n");
    writeWholeFile("/flash/bin/sh", "shell");
    writeWholeFile(db + "webtool/version", "118449664 1600000000\n");  // 7.15
    writeWholeFile(db + "webtool/deps", "system 0 0\n");
    writeWholeFile(db + "webtool/files", "bin/webtool\netc/webtool.conf\n");
    writeWholeFile("/flash/bin/webtool", "old tool");
    writeWholeFile("/flash/etc/webtool.conf", "old conf");
    writeWholeFile(db + "extra/version", "118449664 1600000000\n");
    writeWholeFile(db + "extra/deps", "");
    writeWholeFile(db + "extra/disabled", "user\n");
    writeWholeFile(db + "extra/files", "x/extra/lib/extra.so\n");
    writeWholeFile("/flash/x/extra/lib/extra.so", "extra");
}

std::set<std::string> deviceTree() {
    std::set<std::string> tree;
    for (const char* dir : {"/flash", "/ram", "/rw", "/tmp"}) {
        std::set<std::string> below = pathsBelow(dir);
        tree.insert(below.begin(), below.end());
    }
    return tree;
}

// A staged path must stay below /flash: no ".." component may lead it out.
bool staysInFlash(const std::string& path) {
    std::string collapsed = collapsedPath(path);
    if (collapsed.compare(0, 7, "/flash/") != 0)
        return false;
    return collapsed.find("/../") == std::string::npos &&
           collapsed.compare(collapsed.size() - 3, 3, "/..") != 0;
}

void checkManifest(const Manifest& manifest) {
    for (const auto& [path, entry] : manifest.all()) {
        if (!staysInFlash(path))
            fuzzFailure("staged outside /flash: " + path);
        if (path.find_first_of(std::string(" \n\0", 3)) != std::string::npos ||
            entry.argument.find_first_of(std::string(" \n\0", 3)) != std::string::npos)
            fuzzFailure("a staged entry the saved manifest can't carry: " + path);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    enterPrivateRoot();
    writeInstalledSystem();
    initialTree = deviceTree();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    PackageSet& set = PackageSet::instance();
    set.packages.clear();
    set.log.clear();
    set.status.clear();
    loadDatabase(set, true, "i386");

    Manifest manifest;
    std::istringstream input(bytes);
    std::stringbuf copy;
    std::string databaseDir;
    bool bootImage = false;
    installFromStream(set, manifest, input, InstallFlag::Upgrade, RememberedStates(), &copy,
                      &databaseDir, &bootImage);
    const std::string copied = copy.str();
    if (bytes.compare(0, copied.size(), copied) != 0)
        fuzzFailure("the copy is not the stream's bytes in order");
    checkManifest(manifest);
    manifest.discard();

    std::set<std::string> tree = deviceTree();
    if (tree != initialTree) {
        for (const std::string& path : tree) {
            if (initialTree.count(path) == 0)
                fuzzFailure("left behind: " + path);
        }
        fuzzFailure("a file of the installed system went missing");
    }
    return 0;
}
