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
#include "stage/temporaries.h"

namespace {

std::set<std::string> initialTree;

// A database entry and the files it lists, each holding the package's name.
void writeInstalled(const std::string& name, const char* version, const char* deps,
                    const std::string& files) {
    const std::string entry = "/flash/var/pdb/" + name + "/";
    writeWholeFile(entry + "version", version);
    writeWholeFile(entry + "deps", deps);
    writeWholeFile(entry + "files", files);
    for (size_t start = 0, end; (end = files.find('\n', start)) != std::string::npos;
         start = end + 1)
        writeWholeFile("/flash/" + files.substr(start, end - start), name);
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

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // An installed system for the inputs to upgrade, depend on and conflict with: system
    // 7.16, webtool 7.15 and a disabled extra.
    writeInstalled("system", "118515200 1700000000\n", "", "bin/sh\n");
    writeInstalled("webtool", "118449664 1600000000\n", "system 0 0\n",
                   "bin/webtool\netc/webtool.conf\n");
    writeInstalled("extra", "118449664 1600000000\n", "", "x/extra/lib/extra.so\n");
    writeWholeFile("/flash/var/pdb/extra/disabled", "user\n");
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
    InstallRequest request;
    request.flags = InstallFlag::Upgrade;
    request.copy = &copy;
    installFromStream(set, manifest, input, request);
    if (bytes.compare(0, copy.str().size(), copy.str()) != 0)
        fuzzFailure("the copy is not the stream's bytes in order");
    for (const auto& entry : manifest.all()) {
        if (!staysInFlash(entry.first))
            fuzzFailure("staged outside /flash: " + entry.first);
    }
    manifest.discard();
    settleStaging();
    if (deviceTree() != initialTree)
        fuzzFailure("the device root changed: a file left behind or one gone missing");
    return 0;
}
