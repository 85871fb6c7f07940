// Fuzz target: the package database readers on arbitrary file contents. The input is
// cut at NUL bytes into the files of one package's database entry, in the order of
// EntryFiles (files beyond the last piece are absent); whatever follows the last of them
// is the entry's stored image. The whole database is then loaded, which reads the lists
// with and without priorities.
#include <filesystem>
#include <string>

#include "pkg/database.h"
#include "pkg/package_set.h"
#include "private_root.h"

namespace {

const char* const EntryFiles[] = {"/flash/var/pdb/pkg/version",  "/flash/var/pdb/pkg/deps",
                                  "/flash/var/pdb/pkg/provides", "/flash/var/pdb/pkg/conflicts",
                                  "/flash/var/pdb/pkg/bundle",   "/flash/var/pdb/pkg/files",
                                  "/flash/var/pdb/pkg/disabled", "/flash/var/pdb/pkg/enabled",
                                  "/ram/pdb/pkg/schedule",       "/flash/var/pdb/pkg/image"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    for (const char* dir : {"/flash/var/pdb", "/ram"}) {
        std::error_code error;
        std::filesystem::remove_all(dir, error);
        std::filesystem::create_directory(dir, error);
    }
    // The last file (the image) keeps its NUL bytes.
    size_t start = 0;
    for (const char* file : EntryFiles) {
        size_t end = file == EntryFiles[std::size(EntryFiles) - 1] ? std::string::npos
                                                                   : bytes.find('\0', start);
        writeWholeFile(file, bytes.substr(start, end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    PackageSet& set = PackageSet::instance();
    set.packages.clear();
    set.log.clear();
    loadDatabase(set, true, "i386");
    return 0;
}
