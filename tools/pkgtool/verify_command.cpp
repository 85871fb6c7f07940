// pkgtool verify: each package's signature level, as the installer's reader and check
// compute it, against the level the package needs.
#include <sys/stat.h>

#include <fstream>
#include <iostream>

#include "commands.h"
#include "pkgfile/byte_order.h"
#include "pkgfile/package_file.h"
#include "pkgfile/signature.h"

namespace {

struct Verdict {
    std::string name;
    Version version = 0;
    bool headerRead = false;
};

bool readHeaderFields(PackageFile& file, Verdict& verdict) {
    uint8_t header[32];
    if (!file.read(reinterpret_cast<char*>(header), sizeof header))
        return false;
    std::string name(reinterpret_cast<char*>(header), 16);
    verdict.name = name.substr(0, name.find('\0'));
    verdict.version = decodeLE32(header + 16);
    verdict.headerRead = true;
    return true;
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

    file.acceptedTypes = {PartPackageHeader, PartBundleHeader, PartSignature};
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
        return fail(ExitFailure, std::to_string(shortfalls) + " of " + std::to_string(packages) +
                                     " packages fall short of the signature they need");
    return 0;
}
