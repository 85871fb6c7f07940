// Version texts and order, dependency bounds and exact name comparison.
#include <gtest/gtest.h>

#include "pkg/package.h"

namespace {

Dependency entry(const std::string& name, Version min, Version max) {
    Dependency dependency;
    dependency.name = name;
    dependency.min = min;
    dependency.max = max;
    return dependency;
}

}  // namespace

TEST(VersionTest, TextOfEveryReleaseKind) {
    const std::pair<Version, const char*> cases[] = {
        {0x06286605, "6.40.5"},      {0x06286600, "6.40"},
        {0x06296203, "6.41beta3"},   {0x06296300, "6.41rc"},
        {0x06296102, "6.41alpha2"},  {0x06296402, "6.412"},
        {0xFFFF66FF, "255.255.255"}, {0, "0.0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(versionText(c.first), c.second) << std::hex << c.first;
    EXPECT_EQ(versionText(0x06286605) + " " + versionText(0x06296300), "6.40.5 6.41rc");
    EXPECT_EQ(packageText(Package("system", 0x06286605)), "system-6.40.5");
    EXPECT_EQ(dependencyText(entry("system", 0, 0x06286605)), "system");
    EXPECT_EQ(dependencyText(entry("system", 0x06296203, 0)), "system-6.41beta3");
}

TEST(VersionTest, OrderIsUnsignedVersionThenBuildTime) {
    // Alpha before beta before rc before the release and its patch levels; the build time
    // decides between equal versions.
    const std::pair<Version, uint32_t> ascending[] = {
        {0x06296102, 9},          {0x06296203, 9},          {0x06296300, 9},
        {0x06296301, 9},          {0x06296600, 9},          {0x06296601, 9},
        {0x7FFFFFFF, 0xFFFFFFFF}, {0x80000000, 0x7FFFFFFF}, {0x80000000, 0x80000000},
    };
    for (size_t i = 0; i + 1 < sizeof ascending / sizeof ascending[0]; ++i) {
        Package lower("p", ascending[i].first, ascending[i].second);
        Package higher("p", ascending[i + 1].first, ascending[i + 1].second);
        EXPECT_EQ(compareVersions(lower, higher), -1) << i;
        EXPECT_EQ(compareVersions(higher, lower), 1) << i;
        EXPECT_EQ(compareVersions(lower, lower), 0) << i;
    }
}

TEST(DependencyTest, SatisfiesNeedsTheExactNameAndBothBounds) {
    const Version v = 0x06286605;
    const struct {
        const char* name;
        Version version;
        Dependency dependency;
        bool satisfied;
    } cases[] = {
        {"dhcp", 1, entry("dhcp", 0, 0), true},
        {"dhcp", 0xFFFFFFFF, entry("dhcp", 0, 0), true},
        {"dhcp", v, entry("dhcp", v, v), true},
        {"dhcp", v + 1, entry("dhcp", v, v), false},
        {"dhcp", v - 1, entry("dhcp", v, v), false},
        {"dhcp", 0x80000000, entry("dhcp", 0x7FFFFFFF, 0), true},
        {"Dhcp", v, entry("dhcp", 0, 0), false},
        {"dhcp ", v, entry("dhcp", 0, 0), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(satisfies(Package(c.name, c.version), c.dependency), c.satisfied)
            << "'" << c.name << "' " << std::hex << c.version;
    }
}

TEST(DependencyTest, OverlapsTreatsZeroBoundsAsOpen) {
    const struct {
        Dependency a, b;
        bool overlapping;
    } cases[] = {
        {entry("x", 0, 0), entry("x", 5, 5), true}, {entry("x", 5, 0), entry("x", 0, 4), false},
        {entry("x", 5, 0), entry("x", 0, 5), true}, {entry("x", 0, 4), entry("x", 5, 0), false},
        {entry("x", 3, 6), entry("x", 6, 9), true}, {entry("x", 7, 9), entry("x", 3, 6), false},
        {entry("x", 7, 0), entry("x", 3, 0), true}, {entry("x", 0, 0), entry("X", 0, 0), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(overlaps(c.a, c.b), c.overlapping)
            << c.a.min << ".." << c.a.max << " / " << c.b.min << ".." << c.b.max;
    }
}
