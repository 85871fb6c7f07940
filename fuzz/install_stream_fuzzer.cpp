// Fuzz target: the install of one package stream (unpacking, inflating, signature
// check, database entry) into a throwaway manifest, in a private device root that holds
// a small installed system. After each input the manifest is discarded and the root must
// be exactly as before: nothing may be written outside the manifest's temporary files,
// and nothing may be staged outside /flash.
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

// An installed system for the inputs to upgrade, depend on and conflict with: system
// 7.16, webtool 7.15 and a disabled extra.
void writeInstalledSystem() {
    const char* const files[][2] = {{"var/pdb/system/version", "118515200 1700000000\n"},
                                    {"var/pdb/system/deps", ""},
                                    {"var/pdb/system/files", "bin/sh\n"},
                                    {"bin/sh", "shell"},
                                    {"var/pdb/webtool/version", "118449664 1600000000\n"},
                                    {"var/pdb/webtool/deps", "system 0 0\n"},
                                    {"var/pdb/webtool/files", "bin/webtool\netc/webtool.conf\n"},
                                    {"bin/webtool", "old tool"},
                                    {"etc/webtool.conf", "old conf"},
                                    {"var/pdb/extra/version", "118449664 1600000000\n"},
                                    {"var/pdb/extra/deps", ""},
                                    {"var/pdb/extra/disabled", "user\n"},
                                    {"var/pdb/extra/files", "x/extra/lib/extra.so\n"},
                                    {"x/extra/lib/extra.so", "extra"}};
    for (const auto& [path, content] : files)
        writeWholeFile(std::string("/flash/") + path, content);
}

std::set<std::string> deviceTree() {
    return pathsBelow({"/flash", "/ram", "/rw", "/tmp"});
}

// A staged path must stay below /flash: no ".." component may lead it out.
bool staysInFlash(const std::string& path) {
    std::string collapsed = collapsedPath(path);
    return collapsed.compare(0, 7, "/flash/") == 0 &&
           (collapsed + "/").find("/../") == std::string::npos;
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
