// The table of "--show", byte for byte (build times UTC, unsigned), of every kind of entry.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "pkgwriter/package_writer.h"
#include "support/device_root.h"

namespace {

std::string pad(const std::string& text, size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

const std::string Header = pad("Name", 16) + "    " + pad("Version", 13) + " " + pad("Built", 20) +
                           pad("Note", 40) + "\n" + std::string(94, '-') + "\n";

std::string row(const std::string& name, const char* marks, const std::string& version,
                const char* built, const std::string& note = "") {
    return pad(name, 16) + " " + marks + pad(version, 13) + " " + built + " " + pad(note, 40) +
           "\n";
}

const char Epoch[] = "Jan/01/1970 00:00:00";
const std::string Pdb = "flash/var/pdb/";

}  // namespace

TEST(PackageTableTest, ShowListsEveryKindOfEntryInLittleMemory) {
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
    // Longer than its column, a release candidate, the latest build time that fits.
    root.writeFile(Pdb + "abcdefghijklmnopqrst/version", "103375616 4294967295\n");
    root.writeFile(Pdb + "abcdefghijklmnopqrst/disabled", "user\n");
    // A note part that claims 0xFFFFFFFF bytes must not be allocated.
    root.writeFile(Pdb + "big/image", PackageWriter()
                                          .header(Package("big", 0x06286605, 0))
                                          .partWithLength(PartNote, 0xFFFFFFFF, "short")
                                          .bytes());

    RunResult result = root.runOnRoot({"--show"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, Header + row("big", "   ", "6.40.5", Epoch, "short") +
                              row("dhcp", "X  ", "6.40.5", "Mar/08/2017 19:06:40", "DHCP server") +
                              row("wireless", "XB ", "6.41beta3", Epoch) +
                              row("ipv6", " B ", "6.41beta3", Epoch) +
                              row("norvale", "   ", "6.41beta3", "Jan/01/1970 00:01:40") +
                              row("ppp", "   ", "6.40", "Feb/29/2000 00:00:00") +
                              row("abcdefghijklmnopqrst", "X  ", "6.41rc", "Feb/07/2106 06:28:15") +
                              row("bmember", " B ", "6.40.5", Epoch) +
                              row("broken", "   ", "0.0", Epoch) +
                              row("plainfile", "   ", "0.0", Epoch) +
                              row("system", "   ", "6.40.5", "Mar/08/2017 19:06:40"));
    struct rusage usage;
    ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
    EXPECT_LT(usage.ru_maxrss, 64 * 1024);  // KiB
}
