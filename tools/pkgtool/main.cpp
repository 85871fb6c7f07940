// pkgtool: builds, bundles, inspects and verifies the system's package files, and makes
// signing keys.
#include <cstring>
#include <iostream>

#include "commands.h"

namespace {

const char* const Help =
    "usage: pkgtool COMMAND [options] ...\n"
    "\n"
    "  build -o FILE --name NAME --version VERSION [options] [DIR]\n"
    "      a signed package of the files, directories and links under DIR (no files part\n"
    "      without DIR)\n"
    "      --build-time SECONDS      default SOURCE_DATE_EPOCH, else now\n"
    "      --flags N                 header flags (1: boot image, 2: no meta files)\n"
    "      --arch TEXT               architecture part (none: the installer assumes i386)\n"
    "      --note TEXT               note part\n"
    "      --depends NAME[:MIN[:MAX]]                  repeatable\n"
    "      --provides NAME[:PRIORITY[:MIN[:MAX]]]      repeatable\n"
    "      --conflicts NAME[:MIN[:MAX]]                repeatable\n"
    "      --image FILE              image part with the bytes of FILE\n"
    "      --processor-class N:PATH  entries at or below PATH (relative to DIR) only for\n"
    "                                boards of processor class N; repeatable\n"
    "      --unrecorded              unrecorded package file (no database entry)\n"
    "      --digest sha256|sha1      default sha256 (with a digest selector part)\n"
    "      --signature both|ed25519|legacy|none        default both\n"
    "      --ed25519-key FILE        Ed25519 seed, 64 hex digits\n"
    "      --legacy-key FILE         legacy secret, 64 hex digits\n"
    "                                (defaults: the development keys in keys/)\n"
    "  bundle -o FILE --name NAME --version VERSION [--block NAME]... MEMBER...\n"
    "      a bundle of signed member package files, copied byte for byte; all members\n"
    "      must use the same digest. Also --build-time, --flags, --arch, --note and\n"
    "      --unrecorded as for build; --block adds a name to list part 20. The bundle\n"
    "      carries an image part (empty, or the bytes of --image FILE) so that the\n"
    "      installer keeps it as its database entry; --no-image leaves it out\n"
    "  info FILE\n"
    "      every part with its offset and length, header fields, lists and file entries\n"
    "  verify FILE\n"
    "      each package's signature level and the level it needs, as the installer\n"
    "      checks them; exit status 1 when one falls short\n"
    "  keygen DIR\n"
    "      new Ed25519 and legacy key pairs in DIR; prints the public keys as the build\n"
    "      takes them\n"
    "\n"
    "Versions: 6.40.5, 6.40, 6.41beta3, 6.41rc, 6.42alpha1, 7.0, or packed as 0x062E6608.\n"
    "Exit status: 0 done, 1 failed, 2 bad command line.\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return fail(ExitUsage, "no command; see pkgtool --help");
    std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::cout << Help;
        return 0;
    }
    std::vector<std::string> args(argv + 2, argv + argc);
    for (const std::string& arg : args) {
        if (arg == "--help") {
            std::cout << Help;
            return 0;
        }
    }
    static const struct {
        const char* name;
        int (*run)(const std::vector<std::string>&);
    } commands[] = {{"build", buildCommand},
                    {"bundle", bundleCommand},
                    {"info", infoCommand},
                    {"verify", verifyCommand},
                    {"keygen", keygenCommand}};
    for (const auto& c : commands) {
        if (command == c.name)
            return c.run(args);
    }
    return fail(ExitUsage, "unknown command \"" + command + "\"; see pkgtool --help");
}
