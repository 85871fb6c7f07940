// The package table of "--show": header, rule, rows and build times (UTC, unsigned), byte for byte.
#include <gtest/gtest.h>

#include <sstream>

#include "driver/package_table.h"
#include "pkg/package_set.h"

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

}  // namespace

TEST(PackageTableTest, RowsFollowTheSetOrder) {
    PackageSet set;
    auto add = [&](const std::string& name, Version version, uint32_t buildTime) {
        set.packages.push_back(std::make_unique<InstalledPackage>(name, version, buildTime));
        return set.packages.back().get();
    };
    add("system", 0x06286605, 1488981909)->note = "the base";
    InstalledPackage* member = add("ppp", 0x06296203, 0);
    member->disabled = true;
    member->bundle.name = "norvale";
    add("abcdefghijklmnopqrst", 0x06296300, 0xFFFFFFFF)->disabled = true;
    add("zz", 0, 951782400)->bundle.name = "b";
    std::ostringstream out;
    printPackageTable(set, out);
    EXPECT_EQ(out.str(), Header +
                             row("system", "   ", "6.40.5", "Mar/08/2017 14:05:09", "the base") +
                             row("ppp", "XB ", "6.41beta3", "Jan/01/1970 00:00:00") +
                             row("abcdefghijklmnopqrst", "X  ", "6.41rc", "Feb/07/2106 06:28:15") +
                             row("zz", " B ", "0.0", "Feb/29/2000 00:00:00"));
}
