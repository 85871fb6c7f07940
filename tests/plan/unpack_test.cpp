// Unpacking end to end: where the entries of a package land, which are passed over, the
// boot-image case, the signature and trailing-part checks and unrecorded files.
#include "plan/unpack.h"

#include <gtest/gtest.h>

#include "platform/board.h"
#include "support/files.h"
#include "support/packages.h"

namespace {

const std::string Pdb = "flash/var/pdb/";

// The regular files that a run added or changed outside the database.
std::map<std::string, std::string> changedFiles(const std::map<std::string, std::string>& before,
                                                const std::map<std::string, std::string>& after) {
    std::map<std::string, std::string> changed;
    for (const auto& [path, content] : after) {
        auto old = before.find(path);
        if (path.back() != '/' && path.compare(0, Pdb.size(), Pdb) != 0 &&
            (old == before.end() || old->second != content))
            changed[path] = content;
    }
    return changed;
}

}  // namespace

// The disabled directory is covered by the blocked bundle member of the driver tests.
TEST(UnpackTest, EntriesLandUnderFlashUnlessTheBootImageIsAsked) {
    REQUIRE_DEVELOPMENT_KEYS();
    uint8_t otherClass = uint8_t(processorClass() % 4 + 1);  // never this board's
    const std::vector<FileEntry> entries = {{"bin/x", "x"},
                                            {"/bin/y", "y"},
                                            {"empty", ""},
                                            {"lib", "", 040755},
                                            {"bin/link", "x", 0120777},
                                            {"any", "a", 0100750, 0},
                                            {"other", "o", 0100644, otherClass}};
    const std::map<std::string, std::string> landing = {
        {"any", "a"}, {"bin/x", "x"}, {"bin/y", "y"}, {"empty", ""}};
    const struct {
        const char* what;
        bool bootImage;   // a boot-image package, the boot image asked for: files unread
        std::string dir;  // where the files land, "" for nowhere
    } cases[] = {
        {"installed pkg-7.10", false, "flash/"},
        {"installed pkg-7.10", true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what + c.dir);
        DeviceRoot root;
        auto before = deviceState(root);
        // An architecture part and an empty dependency part may follow the signature.
        std::string file = appended(
            packageFile(spec("pkg", version7(10), entries, c.bootImage ? FlagBootImage : 0)),
            partBytes(PartArchitecture, "i386") + partBytes(PartDependencies, ""));
        std::vector<std::string> env;
        if (c.bootImage)
            env.push_back("bootimage=");
        RunResult result = installFromStdin(root, file, {}, env);
        EXPECT_EQ(result.status, 0) << result.out;
        EXPECT_EQ(lastMessage(result), c.what);
        std::map<std::string, std::string> files;
        std::string list;
        if (c.bootImage)
            files["flash/UPGRADED"] = "";
        for (const auto& [name, content] : landing) {
            if (!c.dir.empty()) {
                files[c.dir + name] = content;
                list += c.dir.substr(6) + name + "\n";
            }
        }
        EXPECT_EQ(changedFiles(before, deviceState(root)), files);
        EXPECT_EQ(root.readFile(Pdb + "pkg/files"), list);
        if (!c.dir.empty()) {
            EXPECT_EQ(permissionsOf(root.path(c.dir + "any")), 0750u);
        }
    }
}

// Every refused package leaves the device as it was: the older version's files stay and
// nothing new is staged onto flash.
TEST(UnpackTest, RefusedPackagesChangeNothing) {
    REQUIRE_DEVELOPMENT_KEYS();
    PackageSpec legacy = spec("pkg", version7(10), {{"bin/x", "new"}});
    legacy.signature = SignatureKind::Legacy;
    // A byte of the files part, which the boot-image case never decompresses.
    std::string badFiles = packageFile(spec("pkg", version7(10), {{"x", "x"}}, FlagBootImage));
    badFiles[badFiles.size() - 132 - 6 - 2] ^= 1;
    const struct {
        const char* what;
        std::string file;
        std::vector<std::string> env;
    } cases[] = {
        {"legacy signature where Ed25519 is needed", packageFile(legacy), {}},
        {"unread files part that does not match", badFiles, {"bootimage=1"}},
        {"a dependency part after the signature",
         appended(simplePackage("pkg"), partBytes(PartDependencies, encodeList({entry("x")}))),
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DeviceRoot root;
        ASSERT_EQ(installFromStdin(root, simplePackage("pkg", version7(9))).status, 0);
        auto before = deviceState(root);
        RunResult result = installFromStdin(root, c.file, {}, c.env);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(lastMessage(result), "ERROR: installation of pkg-7.10 failed: broken package");
        EXPECT_EQ(deviceState(root), before);
    }
}

TEST(UnpackTest, UnrecordedPackageKeepsTheInstalledVersionAndItsEntry) {
    REQUIRE_DEVELOPMENT_KEYS();
    DeviceRoot root;
    ASSERT_EQ(installFromStdin(root, simplePackage("pkg", version7(9))).status, 0);
    std::string entry = root.readFile(Pdb + "pkg/version");
    PackageSpec unrecorded = spec("pkg", version7(10), {{"bin/new", "n"}});
    unrecorded.magic = UnrecordedMagic;
    EXPECT_EQ(installFromStdin(root, packageFile(unrecorded)).status, 0);
    EXPECT_EQ(root.readFile("flash/bin/pkg"), "pkg");
    EXPECT_EQ(root.readFile("flash/bin/new"), "n");
    EXPECT_EQ(root.readFile(Pdb + "pkg/version"), entry);
}
