// The installer's command line end to end: the usage line, options, start-up and the
// package table of "--show" on a device root.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "pkgwriter/package_writer.h"
#include "support/device_root.h"

namespace {

const std::string Usage = "usage: installer [-q] [-r <root>] [-]\n";
const std::string Resuming = "\nResuming upgrade...\n";
const std::string Pdb = "flash/var/pdb/";

std::string pad(const std::string& text, size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

const std::string Header = pad("Name", 16) + "    " + pad("Version", 13) + " " + pad("Built", 20) +
                           pad("Note", 40) + "\n" + std::string(94, '-') + "\n";

std::string row(const std::string& name, const std::string& marks, const std::string& version,
                const std::string& built, const std::string& note = "") {
    return pad(name, 16) + " " + marks + pad(version, 13) + " " + built + " " + pad(note, 40) +
           "\n";
}

const char Epoch[] = "Jan/01/1970 00:00:00";

}  // namespace

TEST(CommandLineTest, ArgumentsOutsideTheTablePrintTheUsageLine) {
    DeviceRoot root;
    // Without a database a load would warn: the usage runs must load nothing.
    rmdir(root.path(Pdb).c_str());
    const std::string r = root.root();
    struct Case {
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {{"--bogus"}, Usage},
        {{"-r", r, "-q", "--safe", "-down", "-i", "--bogus", "--show"}, Usage},
        {{"-r", r, "--show", "-x"}, Usage},
        {{"-r", r, "--SHOW"}, Usage},
        {{"-r"}, Usage},
        {{"--month"}, Usage},
        {{"-r", r, "-r"}, Usage},
        {{"-r", r, "--reinstall", "--bogus"}, Resuming + Usage},
    };
    for (const Case& c : cases) {
        RunResult result = root.run(c.args);
        EXPECT_EQ(result.status, 0) << c.args.back();
        EXPECT_EQ(result.out, c.out) << c.args.back();
        EXPECT_EQ(result.err, "") << c.args.back();
    }
}

TEST(CommandLineTest, OptionsAndModePrecedence) {
    DeviceRoot root;
    struct Case {
        std::vector<std::string> args;
        bool table;
        std::string before;  // what comes before the table
    } cases[] = {
        {{"-b", "--force", "--noupgrade", "-i", "--month", "x", "-down", "--safe", "--show"},
         true,
         ""},
        {{"--show", "-"}, true, ""},
        {{"--show", "--cleanup"}, true, ""},
        {{"--reinstall", "--show"}, true, Resuming},
        {{"-r", "/no/such/root", "-r", root.root(), "--show"}, true, ""},
        {{"-", "--show"}, false, ""},
        {{"--cleanup", "--show"}, false, ""},
    };
    for (const Case& c : cases) {
        RunResult result = root.runOnRoot(c.args, "not a package");
        if (c.table) {
            EXPECT_EQ(result.status, 0) << c.args[0];
            EXPECT_EQ(result.out, c.before + Header) << c.args[0];
        } else {
            EXPECT_EQ(result.out.find("Version"), std::string::npos) << c.args[0];
        }
    }
}

TEST(CommandLineTest, SavedManifestActionsEndTheArguments) {
    DeviceRoot root;
    for (const char* action : {"--commit", "--cancel"}) {
        RunResult result = root.runInside({action, "--bogus"});
        EXPECT_EQ(result.out.find("usage"), std::string::npos) << action;
    }
}

TEST(CommandLineTest, FailedRootChangeIsReportedAndTheRunGoesOn) {
    DeviceRoot root;
    RunResult result = root.run({"-r", root.path("no-such-dir"), "--show"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "chroot: No such file or directory\n");
    EXPECT_NE(result.out.find(Header), std::string::npos);
}

TEST(CommandLineTest, ShowWithoutDatabaseWarnsUnlessQuiet) {
    DeviceRoot root;
    rmdir(root.path(Pdb).c_str());
    EXPECT_EQ(root.runOnRoot({"--show"}).out, "WARNING: could not open repo\n" + Header);
    EXPECT_EQ(root.runOnRoot({"-q", "--show"}).out, Header);
}

TEST(CommandLineTest, ShowListsEveryKindOfEntry) {
    DeviceRoot root;
    Package dhcp("dhcp", 0x06286605, 1489000000);
    dhcp.note = "DHCP server";
    PackageWriter dhcpImage;
    addPackageParts(dhcpImage, dhcp, {{"bin/dhcpd", "x"}}, "image part");
    root.writeFile(Pdb + "dhcp/image", dhcpImage.part(PartSignature, std::string(68, 's')).bytes());
    root.writeFile(Pdb + "dhcp/disabled", "user\n");

    Package bundle("norvale", 0x06296203, 100);
    bundle.isBundle = true;
    PackageWriter bundleImage;
    addPackageParts(bundleImage, bundle, {});
    for (const char* member : {"wireless", "ipv6"}) {
        addPackageParts(bundleImage, Package(member, 0x06296203, 0), {});
        bundleImage.part(PartSignature, std::string(68, 's'));
    }
    root.writeFile(Pdb + "norvale/image", bundleImage.bytes());
    root.writeFile(Pdb + "wireless/disabled", "auto\n");
    root.makeDir(Pdb + "ipv6");

    root.makeDir(Pdb + "ppp");
    root.writeFile("rw/pckg/.images/ppp",
                   PackageWriter().header(Package("ppp", 0x06286600, 951782400)).bytes());
    root.writeFile(Pdb + "system/version", "103310853 1489000000\n");
    root.writeFile(Pdb + "system/files", "bin/sh\n");
    root.writeFile(Pdb + "bmember/version", "103310853 0\n");
    root.writeFile(Pdb + "bmember/bundle", "norvale\n");
    root.writeFile(Pdb + "broken/deps", "a 1\n");
    root.writeFile(Pdb + "plainfile", "x");

    RunResult result = root.runOnRoot({"--show"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out,
              Header + row("dhcp", "X  ", "6.40.5", "Mar/08/2017 19:06:40", "DHCP server") +
                  row("wireless", "XB ", "6.41beta3", Epoch) +
                  row("ipv6", " B ", "6.41beta3", Epoch) +
                  row("norvale", "   ", "6.41beta3", "Jan/01/1970 00:01:40") +
                  row("ppp", "   ", "6.40", "Feb/29/2000 00:00:00") +
                  row("bmember", " B ", "6.40.5", Epoch) + row("broken", "   ", "0.0", Epoch) +
                  row("plainfile", "   ", "0.0", Epoch) +
                  row("system", "   ", "6.40.5", "Mar/08/2017 19:06:40"));
}

TEST(CommandLineTest, ImageClaimingAHugeNoteNeedsLittleMemory) {
    DeviceRoot root;
    root.writeFile(Pdb + "big/image", PackageWriter()
                                          .header(Package("big", 0x06286605, 0))
                                          .partWithLength(PartNote, 0xFFFFFFFF, "short")
                                          .bytes());
    RunResult result = root.runOnRoot({"--show"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.compare(0, Header.size(), Header), 0);
    struct rusage usage;
    ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
    EXPECT_LT(usage.ru_maxrss, 64 * 1024);  // KiB
}
