// Fuzz target: the package database readers on arbitrary file contents. The input is
// cut at NUL bytes into the files of one package's database entry, in the order of
// EntryFiles (files beyond the last piece are absent); whatever follows the last of them
// is the entry's stored image. The whole database is then loaded, and the list reader
// also reads the whole input, with and without priorities.
#include <unistd.h>

#include <string>
#include <vector>

#include "pkg/database.h"
#include "pkg/package_set.h"
#include "private_root.h"

namespace {

const char* const EntryFiles[] = {
    "/flash/var/pdb/pkg/version",   "/flash/var/pdb/pkg/deps",    "/flash/var/pdb/pkg/provides",
    "/flash/var/pdb/pkg/conflicts", "/flash/var/pdb/pkg/bundle",  "/flash/var/pdb/pkg/files",
    "/flash/var/pdb/pkg/disabled",  "/flash/var/pdb/pkg/enabled", "/ram/pdb/pkg/schedule",
};
const char Image[] = "/flash/var/pdb/pkg/image";
const char WholeInput[] = "/tmp/list";

// The pieces of the input between NUL bytes; the last piece keeps its NUL bytes.
std::vector<std::string> splitInput(const std::string& bytes, size_t pieces) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (parts.size() + 1 < pieces) {
        size_t nul = bytes.find('\0', start);
        if (nul == std::string::npos)
            break;
        parts.push_back(bytes.substr(start, nul - start));
        start = nul + 1;
    }
    parts.push_back(bytes.substr(start));
    return parts;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    enterPrivateRoot();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    emptyDirectory("/flash/var/pdb");
    emptyDirectory("/ram");
    std::vector<std::string> parts = splitInput(bytes, std::size(EntryFiles) + 1);
    for (size_t i = 0; i < parts.size(); ++i)
        writeWholeFile(i < std::size(EntryFiles) ? EntryFiles[i] : Image, parts[i]);

    PackageSet& set = PackageSet::instance();
    set.packages.clear();
    set.log.clear();
    loadDatabase(set, true, "i386");

    writeWholeFile(WholeInput, bytes);
    std::vector<Dependency> list;
    readList(WholeInput, list, false);
    list.clear();
    readList(WholeInput, list, true);
    return 0;
}
