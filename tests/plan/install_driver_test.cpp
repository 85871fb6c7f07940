// The install driver end to end: reinstalls, new versions, refused and unrecorded files, and
// bundles with blocked, replaced, dropped and unchanged members.
#include "plan/install_driver.h"

#include <gtest/gtest.h>

#include "support/files.h"
#include "support/packages.h"
#include "support/set_text.h"

namespace {

const std::string Pdb = "flash/var/pdb/";

// Package name 7.minor with the one file bin/name.
std::string member(const std::string& name, unsigned minor, const std::string& content) {
    return packageFile(spec(name, version7(minor), {{"bin/" + name, content}}));
}

std::string bundle(Version version, const std::vector<std::string>& members,
                   const std::vector<Dependency>& blocked = {}) {
    // Bundles keep their image: it describes their members in the database.
    return signedBundle(Package("bnd", version, 100), members, blocked, "IMAGE");
}

// text with "\n" at its end made a line end.
std::string unescaped(std::string text) {
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\\n") == 0)
        text.replace(text.size() - 2, 2, "\n");
    return text;
}

}  // namespace

// One run on a device root where the files of before were installed from standard input
// (or, given as path=content, written): its last message ("broken X" for "ERROR:
// installation of X failed: broken package") and what the files hold afterwards ("\n" a
// line end, <gone> no file, a folder the names in it; "-": the device is unchanged). A
// refused file fails "installer -" and drops the upgrade run ("download": the
// file waits in the download folder), which still ends with status 0. A blocked member is
// installed disabled unless the user chose its state before.
// what | before | offered | arguments, environment | last message | path=content; ...
TEST(InstallDriverTest, InstallsAndRefusals) {
    REQUIRE_DEVELOPMENT_KEYS();
    PackageSpec unrecorded = spec("pkg", version7(10), {{"bin/new", "n"}});
    unrecorded.magic = UnrecordedMagic;
    PackageSpec legacy = spec("pkg", version7(10), {{"bin/x", "new"}});
    legacy.signature = SignatureKind::Legacy;
    PackageSpec p10 = spec("p", version7(10), {{"bin/kept", "1"}, {"lib/dropped", "1"}}),
                p11 = spec("p", version7(11), {{"bin/kept", "2"}}),
                kern = spec("kern", version7(10), {{"bin/kern", "kernel"}}, FlagBootImage);
    kern.image = "IMAGE";
    // A byte of the files part, which the boot-image case never decompresses.
    std::string badFiles = packageFile(spec("pkg", version7(10), {{"x", "x"}}, FlagBootImage));
    badFiles[badFiles.size() - 132 - 6 - 2] ^= 1;
    const std::string m = member("m", 10, "m");
    std::map<std::string, std::string> named = {
        {"pkg9", simplePackage("pkg", version7(9))},
        {"pkg10", member("pkg", 10, "x")},
        {"p10", packageFile(p10)},
        {"p11", packageFile(p11)},
        {"unrecorded", packageFile(unrecorded)},
        {"legacy", packageFile(legacy)},
        {"badFiles", badFiles},
        {"list",
         appended(simplePackage("pkg"), partBytes(PartDependencies, encodeList({entry("x")})))},
        {"kern", packageFile(kern)},
        {"damagedKern", flipped(packageFile(kern), packageFile(kern).size() - 150)},
        {"bm", bundle(version7(10), {m})},
        {"damagedBm", bundle(version7(11), {flipped(m, m.size() - 150)})},
        {"ba+arch", appended(bundle(version7(10), {member("a", 10, "a")}),
                             partBytes(PartArchitecture, "i386"))},
        {"babc", bundle(version7(10),
                        {member("a", 10, "old"), member("b", 10, "old"), member("c", 10, "old")})},
        {"b9", member("b", 9, "old")},
        {"blocked",
         bundle(version7(10), {member("a", 10, "a"), member("b", 10, "b")}, {entry("b")})},
        {"bab", bundle(version7(11), {member("a", 10, "new"), member("b", 11, "new")})},
    };
    p10.image = p11.image = "IMAGE";
    named["p10image"] = packageFile(p10);
    named["p11image"] = packageFile(p11);
    for (const std::string& line : fields(R"(
        same version | pkg10 | pkg10 | - | WARNING: omitting package pkg-7.10: it is already installed | -
        same version again | pkg10 | pkg10 | --reinstall | installed pkg-7.10 | -
        new version described by meta files | p10 | p11 | - | installed p-7.11 | flash/bin/kept=2; flash/lib/dropped=<gone>; flash/var/pdb/p/files=bin/kept\n
        new version described by its image | p10image | p11image | - | installed p-7.11 | flash/bin/kept=2; flash/lib/dropped=<gone>; flash/var/pdb/p/files=bin/kept\n
        unrecorded file | pkg9 | unrecorded | - | installed pkg-7.10 | flash/bin/pkg=pkg; flash/bin/new=n; flash/var/pdb/pkg/version=118056448 100\n
        legacy signature where Ed25519 is needed | pkg9 | legacy | - | broken pkg-7.10 | -
        unread files part that does not match | pkg9 | badFiles | bootimage=1 | broken pkg-7.10 | -
        a dependency part after the signature | pkg9 | list | - | broken pkg-7.10 | -
        damaged file of the installed version, whose copy would replace the image | kern | damagedKern | - | broken kern-7.10 | -
        the same, reinstalled | kern | damagedKern | --reinstall | broken kern-7.10 | -
        the same, downloaded | kern | damagedKern | download | broken kern-7.10 | -
        damaged bundle member passed over | bm | damagedBm | - | broken bnd-7.11 | -
        bundle ending in an architecture part | - | ba+arch | - | installed bnd-7.10 | flash/bin/a=a
        new bundle: unchanged members passed over, dropped ones uninstalled | babc | bab | - | installed bnd-7.11 | flash/bin/a=old; flash/bin/b=new; flash/bin/c=<gone>; flash/var/pdb/=a b bnd
        blocked member | - | blocked | download | installed bnd-7.10 | flash/bin/a=a; flash/bin/b=<gone>; flash/x/b/bin/b=b; flash/var/pdb/b/disabled=auto\n; flash/var/pdb/=a b bnd
        blocked member that the user enabled | b9, flash/var/pdb/b/enabled=user\n | blocked | download | installed bnd-7.10 | flash/bin/b=b; flash/x/b/bin/b=<gone>; flash/var/pdb/b/disabled=<gone>; flash/var/pdb/=a b bnd
    )",
                                          '\n')) {
        std::vector<std::string> f = fields(line, '|');
        SCOPED_TRACE(f[0]);
        for (std::string& column : f)
            column = column == "-" ? "" : column;
        DeviceRoot root;
        for (const std::string& item : fields(f[1], ',')) {
            size_t equals = item.find('=');
            if (equals == std::string::npos) {
                ASSERT_EQ(installFromStdin(root, named.at(item)).status, 0);
            } else {
                root.writeFile(item.substr(0, equals), unescaped(item.substr(equals + 1)));
            }
        }
        auto before = deviceState(root);
        std::vector<std::string> args, env;
        for (const std::string& word : fields(f[3], ' '))
            (word.find('=') == std::string::npos ? args : env).push_back(word);
        bool downloaded = f[3] == "download";
        if (downloaded) {
            args.clear();
            root.writeFile("rw/pckg/.download/p.npk", named.at(f[2]));
        }
        RunResult result = downloaded ? root.runOnRoot(args, "", env)
                                      : installFromStdin(root, named.at(f[2]), args, env);
        std::string message =
            f[4].rfind("broken ", 0) == 0
                ? "ERROR: installation of " + f[4].substr(7) + " failed: broken package"
                : f[4];
        EXPECT_EQ(result.status != 0, message.rfind("ERROR", 0) == 0 && !downloaded) << result.out;
        EXPECT_EQ(lastMessage(result), message);
        auto after = deviceState(root);
        after.erase("rw/pckg/.download/p.npk");
        if (f[5].empty()) {
            EXPECT_EQ(after, before);
        }
        for (const std::string& item : fields(f[5], ';')) {
            size_t equals = item.find('=');
            std::string path = item.substr(0, equals), content = unescaped(item.substr(equals + 1));
            std::string names;
            for (const std::string& name : directoryNames(root.path(path)))
                names += (names.empty() ? "" : " ") + name;
            bool listed = path.back() == '/' && content != "<gone>";
            EXPECT_EQ(listed ? names : after.count(path) ? after[path] : "<gone>", content) << path;
        }
    }
}
