// pkgtool verify: each package's signature level, as the installer's reader and check
// compute it, against the level the package needs.
#include <sys/stat.h>

#include <fstream>
#include <iostream>

#include "commands.h"
#include "pkg/package.h"
#include "pkgfile/byte_order.h"
#include "pkgfile/inflate_stream.h"
#include "pkgfile/layout.h"
#include "pkgfile/package_file.h"
#include "pkgfile/signature.h"

namespace {

struct Verdict {
    std::string name;
    Version version = 0;
    bool headerRead = false;
};

bool readHeaderFields(PackageFile& file, Verdict& verdict) {
    layout::Header header;
    if (!layout::readHeader(file, header))
        return false;
    verdict.name = header.name;
    verdict.version = header.version;
    verdict.headerRead = true;
    return true;
}

// The names of the files part's entries that the installer would refuse, each reported as
// the installer's reason; how many there are.
int refusedEntries(PackageFile& file, const std::string& shown) {
    int refused = 0;
    InflateStream in(file);
    layout::FileEntryHeader entry;
    std::string name;
    while (layout::readFileEntry(in, entry, name) == layout::EntryRead::Entry) {
        const char* problem = entryNameProblem(name);
        if ((entry.mode & 0xF000) == 0x8000 && problem) {
            std::cout << shown << ": entry \"" << name << "\": " << problem << ": FAILS\n";
            ++refused;
        }
        if (entry.dataLength != 0 &&
            !in.seekg(std::streamoff(entry.dataLength), std::ios_base::cur))
            break;
    }
    return refused;
}

std::string shownName(const Verdict& verdict) {
    return verdict.headerRead ? verdict.name + "-" + versionText(verdict.version)
                              : std::string("(unreadable package header)");
}

}  // namespace

int verifyCommand(const std::vector<std::string>& args) {
    if (args.size() != 1 || args[0].empty() || args[0][0] == '-')
        return fail(ExitUsage, "usage: pkgtool verify FILE");
    const std::string& path = args[0];
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return fail(ExitFailure, "cannot open " + path);
    PackageFile file(in, true);
    if (file.bad())
        return fail(ExitFailure, path + " is not a package file");
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && uint64_t(info.st_size) != file.totalSize)
        return fail(ExitFailure, path + " is " + std::to_string(info.st_size) +
                                     " bytes but its header says " +
                                     std::to_string(file.totalSize) + " (cut short?)");

    file.acceptedTypes = {PartPackageHeader, PartBundleHeader, PartFiles, PartSignature};
    int packages = 0, shortfalls = 0;
    Verdict pending;
    bool open = false;  // a package header was read and its signature not yet met
    auto reportUnsigned = [&]() {
        std::cout << shownName(pending) << ": no signature part: FAILS\n";
        ++shortfalls;
    };
    int type = file.nextPart();
    while (type != PartEnd) {
        if (type == PartBundleHeader) {
            Verdict bundle;
            readHeaderFields(file, bundle);
            file.clear();
            std::cout << "bundle " << shownName(bundle) << "\n";
        } else if (type == PartPackageHeader) {
            if (open)
                reportUnsigned();
            pending = Verdict();
            readHeaderFields(file, pending);
            file.clear();
            open = true;
            ++packages;
            if (const char* problem = packageNameProblem(pending.name)) {
                std::cout << shownName(pending) << ": package name: " << problem << ": FAILS\n";
                ++shortfalls;
            }
        } else if (type == PartFiles) {
            shortfalls += refusedEntries(file, shownName(pending));
        } else if (type == PartSignature) {
            if (!open) {
                std::cout << "signature part without a package header: ignored\n";
            } else {
                int level = int(file.verify());
                int required = int(requiredSignatureLevel(pending.name, pending.version));
                bool enough = pending.headerRead && level >= required;
                std::cout << shownName(pending) << ": signature level " << level << ", needs "
                          << required << ": " << (enough ? "ok" : "FAILS") << "\n";
                if (!enough)
                    ++shortfalls;
                open = false;
            }
        }
        type = file.nextPart();
    }
    if (open)
        reportUnsigned();
    std::cout.flush();
    if (packages == 0)
        return fail(ExitFailure, path + " holds no package");
    if (shortfalls != 0)
        return fail(ExitFailure, std::to_string(shortfalls) + " failing checks in " +
                                     std::to_string(packages) +
                                     " packages: a signature short of the level needed, or a "
                                     "name the installer refuses");
    return 0;
}
