// pkgtool bundle: a bundle file from signed member package files.
#include "commands.h"
#include "pkgwriter/bundle_writer.h"

namespace {

const std::string BundleUsage =
    "usage: pkgtool bundle -o FILE --name NAME --version VERSION [--block NAME]... "
    "[options] MEMBER...";

}  // namespace

int bundleCommand(const std::vector<std::string>& args) {
    std::string output, value, error;
    Package bundle;
    bool unrecorded = false;
    HeaderOptions header;
    // A bundle carries an image part by default: the installer then keeps the bundle file
    // as its database entry, which is where the members are read back from.
    bundle.keepImage = true;
    std::string image;
    std::vector<Dependency> blocked;
    std::vector<std::string> memberPaths;
    ArgumentReader reader(args);
    while (reader.next()) {
        const std::string option = reader.current();
        if (!reader.isOption()) {
            memberPaths.push_back(option);
            continue;
        }
        if (option == "--unrecorded") {
            unrecorded = true;
            continue;
        }
        if (option == "--no-image") {
            bundle.keepImage = false;
            continue;
        }
        if (!reader.value(value))
            return fail(ExitUsage, option + " needs a value; " + BundleUsage);
        int status = header.take(option, value, bundle);
        if (status != HeaderOptions::NotHeaderOption) {
            if (status != 0)
                return status;
        } else if (option == "-o" || option == "--output") {
            output = value;
        } else if (option == "--image") {
            if (!readWholeFile(value, image, error))
                return fail(ExitFailure, error);
        } else if (option == "--block") {
            Dependency entry;
            if (!checkPackageName(value, error))
                return fail(ExitUsage, error);
            entry.name = value;
            blocked.push_back(entry);
        } else {
            return fail(ExitUsage, "unknown option " + option + "; " + BundleUsage);
        }
    }
    const std::string usage = "bundle needs -o, --name, --version and members; " + BundleUsage;
    if (output.empty() || memberPaths.empty())
        return fail(ExitUsage, usage);
    if (int status = header.finish(bundle, usage))
        return status;

    std::vector<BundleMember> members(memberPaths.size());
    for (size_t i = 0; i < memberPaths.size(); ++i) {
        std::string file;
        if (!readWholeFile(memberPaths[i], file, error))
            return fail(ExitFailure, error);
        if (!takeMember(file, members[i], error))
            return fail(ExitFailure, memberPaths[i] + ": " + error);
    }
    std::string file;
    if (!buildBundle(file, bundle, blocked, members, unrecorded ? UnrecordedMagic : PackageMagic,
                     error, image))
        return fail(ExitFailure, error);
    if (!writeWholeFile(output, file, error))
        return fail(ExitFailure, error);
    return 0;
}
