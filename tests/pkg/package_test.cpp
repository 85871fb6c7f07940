// Version texts and order, dependency bounds and exact name comparison.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "pkg/package.h"
#include "pkg/relations.h"

TEST(VersionTest, TextOfEveryReleaseKindAndOrderOfVersionThenBuildTime) {
    const std::pair<Version, const char*> texts[] = {
        {0x06286605, "6.40.5"},      {0x06286600, "6.40"},
        {0x06296203, "6.41beta3"},   {0x06296300, "6.41rc"},
        {0x06296102, "6.41alpha2"},  {0x06296402, "6.412"},
        {0xFFFF66FF, "255.255.255"}, {0, "0.0"},
    };
    for (const auto& [version, text] : texts)
        EXPECT_EQ(versionText(version), text) << std::hex << version;
    EXPECT_EQ(packageText(Package("system", 0x06286605)), "system-6.40.5");
    EXPECT_EQ(dependencyText({"system", 0, 0x06286605}), "system");
    EXPECT_EQ(dependencyText({"system", 0x06296203, 0}), "system-6.41beta3");
    // Alpha before beta before rc before the release and its patch levels, unsigned; the
    // build time decides between equal versions.
    const std::pair<Version, uint32_t> ascending[] = {
        {0x06296102, 9},          {0x06296203, 9},          {0x06296300, 9},
        {0x06296301, 9},          {0x06296600, 9},          {0x06296601, 9},
        {0x7FFFFFFF, 0xFFFFFFFF}, {0x80000000, 0x7FFFFFFF}, {0x80000000, 0x80000000},
    };
    for (size_t i = 0; i + 1 < std::size(ascending); ++i) {
        Package lower("p", ascending[i].first, ascending[i].second);
        Package higher("p", ascending[i + 1].first, ascending[i + 1].second);
        EXPECT_TRUE(compareVersions(lower, higher) == -1 && compareVersions(higher, lower) == 1 &&
                    compareVersions(lower, lower) == 0)
            << i;
    }
}

TEST(DependencyTest, SatisfiesAndOverlapsNeedTheExactNameAndBothBoundsZeroBeingOpen) {
    const Version v = 0x06286605;
    const std::tuple<const char*, Version, Dependency, bool> satisfying[] = {
        {"dhcp", 1, {"dhcp", 0, 0}, true},      {"dhcp", 0xFFFFFFFF, {"dhcp", 0, 0}, true},
        {"dhcp", v, {"dhcp", v, v}, true},      {"dhcp", v + 1, {"dhcp", v, v}, false},
        {"dhcp", v - 1, {"dhcp", v, v}, false}, {"dhcp", 0x80000000, {"dhcp", 0x7FFFFFFF, 0}, true},
        {"Dhcp", v, {"dhcp", 0, 0}, false},     {"dhcp ", v, {"dhcp", 0, 0}, false},
    };
    for (const auto& [name, version, dependency, satisfied] : satisfying)
        EXPECT_EQ(satisfies(Package(name, version), dependency), satisfied)
            << "'" << name << "' " << std::hex << version;
    const std::tuple<Dependency, Dependency, bool> overlapping[] = {
        {{"x", 0, 0}, {"x", 5, 5}, true}, {{"x", 5, 0}, {"x", 0, 4}, false},
        {{"x", 5, 0}, {"x", 0, 5}, true}, {{"x", 0, 4}, {"x", 5, 0}, false},
        {{"x", 3, 6}, {"x", 6, 9}, true}, {{"x", 7, 9}, {"x", 3, 6}, false},
        {{"x", 7, 0}, {"x", 3, 0}, true}, {{"x", 0, 0}, {"X", 0, 0}, false},
    };
    for (const auto& [a, b, overlaps] : overlapping)
        EXPECT_EQ(::overlaps(a, b), overlaps)
            << a.min << ".." << a.max << " / " << b.min << ".." << b.max;
}

// Many names out of order, repeats and a name longer than a chunk: each is listed once, in
// byte order, wherever its bytes lie.
TEST(FileListTest, ListsEachPathOnceInOrderAcrossChunks) {
    FileList list;
    std::set<std::string> expected;
    for (int i = 0; i < 6000; ++i) {
        std::string path = "usr/share/" + std::to_string(i * 7919 % 6000);
        if (i == 3000)
            path = std::string(70000, 'x');
        list.insert(path);
        list.insert(path);
        expected.insert(path);
    }
    std::vector<std::string> listed;
    for (std::string_view path : list)
        listed.emplace_back(path);
    EXPECT_TRUE(listed == std::vector<std::string>(expected.begin(), expected.end()));
}
