// Installs end to end, through the install driver, the unpacking and the package finder:
// where entries land, reinstalls and new versions, refused, unrecorded and broken files,
// bundles with blocked, replaced, dropped and unchanged members, where the upgrade run
// takes its files from and how far back /ram/DOWNGRADE lets it go.
#include "plan/install_driver.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/board.h"
#include "support/files.h"
#include "support/packages.h"
#include "support/set_text.h"

namespace {

// Package name 7.minor with the one file bin/name.
std::string member(const std::string& name, unsigned minor, const std::string& content) {
    return packageFile(spec(name, version7(minor), {{"bin/" + name, content}}));
}

std::string bundle(Version version, const std::vector<std::string>& members,
                   const std::vector<Dependency>& blocked = {}) {
    // Bundles keep their image: it describes their members in the database.
    return signedBundle(Package("bnd", version, 100), members, blocked, "IMAGE");
}

// text with every "\n" made a line end.
std::string unescaped(std::string text) {
    for (size_t at = 0; (at = text.find("\\n", at)) != std::string::npos;)
        text.replace(at, 2, "\n");
    return text;
}

}  // namespace

// One run on a root prepared by before: files installed from standard input, or written
// (path=content, "@name" for a file's bytes, <fifo>; path/ a folder). Messages ("+" between,
// "broken X" for X's broken package): the last of "installer -", any of the upgrade run
// ("download": the file waits in the download folder). Then what paths hold ("\n" a line
// end, <gone> nothing, a folder the names in it, path#MODE its bits; "-": unchanged). A
// refused file fails "installer -" and drops the upgrade run, which still ends with 0.
// what | before | offered | arguments, environment | messages | path=content; ...
TEST(InstallDriverTest, InstallsAndRefusals) {
    REQUIRE_DEVELOPMENT_KEYS();
    PackageSpec unrecorded = spec("pkg", version7(10), {{"bin/new", "n"}});
    unrecorded.magic = UnrecordedMagic;
    PackageSpec legacy = spec("pkg", version7(10), {{"bin/x", "new"}});
    legacy.signature = SignatureKind::Legacy;
    PackageSpec p10 = spec("p", version7(10), {{"bin/kept", "1"}, {"lib/dropped", "1"}}),
                p11 = spec("p", version7(11), {{"bin/kept", "2"}}),
                kern = spec("kern", version7(10), {{"bin/kern", "kernel"}}, FlagBootImage, "IMAGE");
    // b needs a missing package; c, after it, is broken.
    PackageSpec b = spec("b", version7(10), {{"bin/b", "b"}}), c = spec("c", version7(10));
    b.deps = {entry("a"), entry("zzz")};
    c.deps = {entry("b")};
    // A byte of the files part, which the boot-image case never decompresses.
    std::string badFiles = packageFile(spec("pkg", version7(10), {{"x", "x"}}, FlagBootImage));
    badFiles[badFiles.size() - 132 - 6 - 2] ^= 1;
    const std::string m = member("m", 10, "m"), pkg10 = member("pkg", 10, "x");
    // Entries of every kind: folders, links and those for another processor class than this
    // board's are passed over, the last of them in several steps.
    const uint8_t otherClass = uint8_t(processorClass() % 4 + 1);
    const std::vector<FileEntry> entries = {{"bin/x", "x"},
                                            {"/bin/y", "y"},
                                            {"empty", ""},
                                            {"lib", "", 040755},
                                            {"bin/link", "x", 0120777},
                                            {"other", std::string(5000, 'o'), 0100644, otherClass},
                                            {"any", "a", 0100750, 0}};
    // An architecture part and an empty dependency part may follow the signature.
    const std::string trailing =
        partBytes(PartArchitecture, "i386") + partBytes(PartDependencies, "");
    std::map<std::string, std::string> named = {
        {"pkg9", simplePackage("pkg", version7(9))},
        {"pkg10", pkg10},
        {"pkg11", simplePackage("pkg", version7(11))},
        {"cut", pkg10.substr(0, pkg10.size() - 1)},
        {"entries", appended(packageFile(spec("pkg", version7(10), entries)), trailing)},
        {"bootEntries",
         appended(packageFile(spec("pkg", version7(10), entries, FlagBootImage)), trailing)},
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
        {"a", simplePackage("a")},
        {"bNeedingZzz", packageFile(b)},
        {"brokenC", flipped(packageFile(c), packageFile(c).size() - 1)},
        {"blocked",
         bundle(version7(10), {member("a", 10, "a"), member("b", 10, "b")}, {entry("b")})},
        {"bab", bundle(version7(11), {member("a", 10, "new"), member("b", 11, "new")})},
    };
    p10.image = p11.image = "IMAGE";
    named["p10image"] = packageFile(p10);
    named["p11image"] = packageFile(p11);
    for (const std::string& line : fields(R"(
        entries of every kind | - | entries | - | installed pkg-7.10 | flash/bin/x=x; flash/bin/y=y; flash/empty=; flash/any=a; flash/any#750; flash/lib/=<gone>; flash/bin/link=<gone>; flash/other=<gone>; flash/var/pdb/pkg/files=any\nbin/x\nbin/y\nempty\n
        the boot image asked for: its files stay unread | - | bootEntries | bootimage= | installed pkg-7.10 | flash/UPGRADED=; flash/bin/x=<gone>; flash/any=<gone>; flash/var/pdb/pkg/files=
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
        the same, downloaded | kern | damagedKern | download | WARNING: omitting package kern-7.10: it is already installed + broken kern-7.10 | -
        only files named *.npk or *.dpk, not hidden, are package files | rw/pckg/.download/a.npk=@pkg10, rw/pckg/.download/b.dpk=@p10, rw/pckg/.download/c.txt=@kern, rw/pckg/.download/.d.npk=@b9, rw/pckg/.download/E.NPK=@legacy, rw/pckg/.download/npk=@bm | - | download | installed pkg-7.10 + installed p-7.10 | flash/var/pdb/=p pkg
        without /ram/DOWNGRADE no older version | pkg10, rw/pckg/.download/q.npk=@pkg9, flash/rw/pckg/p.npk=@pkg11, flash/var/pckg/b.npk=@b9 | - | download | WARNING: omitting package pkg-7.9: newer package pkg-7.10 is already installed | -
        any older one when it holds no number | pkg10, rw/pckg/.download/q.npk=@pkg9, flash/rw/pckg/p.npk=@pkg11, flash/var/pckg/b.npk=@b9, ram/DOWNGRADE= | - | download | installed pkg-7.9 | flash/var/pdb/=pkg; flash/var/pdb/pkg/version=118056448 100\n; rw/pckg/.download/=q.npk
        nor a number | pkg10, rw/pckg/.download/q.npk=@pkg9, flash/rw/pckg/p.npk=@pkg11, flash/var/pckg/b.npk=@b9, ram/DOWNGRADE=garbage | - | download | installed pkg-7.9 | flash/var/pdb/=pkg; flash/var/pdb/pkg/version=118056448 100\n; rw/pckg/.download/=q.npk
        down to the version it names | pkg10, rw/pckg/.download/q.npk=@pkg9, flash/rw/pckg/p.npk=@pkg11, flash/var/pckg/b.npk=@b9, ram/DOWNGRADE=  118056448\n | - | download | installed pkg-7.9 | flash/var/pdb/=pkg; flash/var/pdb/pkg/version=118056448 100\n; rw/pckg/.download/=q.npk
        not below it | pkg10, rw/pckg/.download/q.npk=@pkg9, flash/rw/pckg/p.npk=@pkg11, flash/var/pckg/b.npk=@b9, ram/DOWNGRADE=118056449 | - | download | WARNING: ommitting package pkg-7.9: not allowed | -
        a download folder holding IGNORE is passed over for /flash/rw/pckg/ | pkg10, rw/pckg/.download/q.npk=@pkg9, flash/rw/pckg/p.npk=@pkg11, flash/var/pckg/b.npk=@b9, rw/pckg/.download/IGNORE= | - | download | installed pkg-7.11 | flash/var/pdb/=pkg; flash/var/pdb/pkg/version=118187520 100\n; rw/pckg/.download/=IGNORE q.npk
        so is one without package files | pkg10, rw/pckg/.download/q.txt=@pkg9, flash/rw/pckg/p.npk=@pkg11, flash/var/pckg/b.npk=@b9 | - | download | installed pkg-7.11 | flash/var/pdb/=pkg; flash/var/pdb/pkg/version=118187520 100\n; rw/pckg/.download/=q.txt
        a refused file drops the whole run; later files go unread | pkg10, p10, ram/pdb/pkg/schedule=uninstall\n, rw/pckg/.download/a.npk=@a, rw/pckg/.download/b.npk=@bNeedingZzz, rw/pckg/.download/c.npk=@brokenC | - | download | installed a-7.10 + ERROR: can not install b-7.10: zzz is not installed, but is required | -
        package files that can't be read are reported by name | rw/pckg/.download/cut.npk=@cut, rw/pckg/.download/dir.npk/, rw/pckg/.download/fifo.npk=<fifo> | - | download | ERROR: broken package cut.npk + ERROR: broken package dir.npk + ERROR: broken package fifo.npk + ERROR: router installation failed!!! | -
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
        std::vector<std::string> fifos;
        for (const std::string& item : fields(f[1], ',')) {
            size_t equals = item.find('=');
            std::string path = item.substr(0, equals), content = unescaped(item.substr(equals + 1));
            if (equals == std::string::npos && path.back() == '/') {
                root.makeDir(path);
            } else if (equals == std::string::npos) {
                ASSERT_EQ(installFromStdin(root, named.at(item)).status, 0);
            } else if (content == "<fifo>") {
                fifos.push_back(root.path(path));  // made for the run only: no snapshot reads it
            } else {
                root.writeFile(path,
                               content.rfind('@', 0) == 0 ? named.at(content.substr(1)) : content);
            }
        }
        auto before = deviceState(root);
        std::vector<std::string> args, env;
        for (const std::string& word : fields(f[3], ' '))
            (word.find('=') == std::string::npos ? args : env).push_back(word);
        bool downloaded = f[3] == "download";
        if (downloaded) {
            args.clear();
            if (!f[2].empty())
                root.writeFile("rw/pckg/.download/p.npk", named.at(f[2]));
        }
        for (const std::string& fifo : fifos)
            ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
        RunResult result = downloaded ? root.runOnRoot(args, "", env)
                                      : installFromStdin(root, named.at(f[2]), args, env);
        for (const std::string& fifo : fifos)
            unlink(fifo.c_str());
        std::multiset<std::string> messages;
        for (std::string message : fields(f[4], '+')) {
            if (message.rfind("broken ", 0) == 0)
                message = "ERROR: installation of " + message.substr(7) + " failed: broken package";
            EXPECT_EQ(result.status != 0, message.rfind("ERROR", 0) == 0 && !downloaded)
                << result.out;
            messages.insert(message);
        }
        std::vector<std::string> lines = messageLines(result.out);
        if (downloaded)
            EXPECT_EQ(std::multiset<std::string>(lines.begin(), lines.end()), messages);
        else
            EXPECT_EQ(lastMessage(result), *messages.begin());
        auto after = deviceState(root);
        after.erase("rw/pckg/.download/p.npk");
        if (f[5].empty()) {
            EXPECT_EQ(after, before);
        }
        for (const std::string& item : fields(f[5], ';')) {
            size_t at = item.find_first_of("=#");
            std::string path = item.substr(0, at), content = unescaped(item.substr(at + 1)), names;
            for (const std::string& name : directoryNames(root.path(path)))
                names += (names.empty() ? "" : " ") + name;
            if (item[at] == '#') {
                EXPECT_EQ(permissionsOf(root.path(path)), std::stoul(content, nullptr, 8)) << path;
            } else if (path.back() == '/' && content != "<gone>") {
                EXPECT_EQ(names, content) << path;
            } else {
                EXPECT_EQ(after.count(path) ? after[path] : "<gone>", content) << path;
            }
        }
    }
}
