// Lookups, displacement, record comparison and the thinning and ordering of lists.
#include "plan/lookup.h"

#include <gtest/gtest.h>

#include "support/package_table.h"

namespace {

// Owns candidate records made from lines and hands out the list of them.
struct CandidateList {
    explicit CandidateList(const std::vector<std::string>& lines) {
        for (const std::string& line : lines) {
            records.push_back(parseCandidate(line));
            list.push_back(records.back().get());
        }
    }
    std::string texts() const {
        std::string text;
        for (const Package* package : list)
            text += (text.empty() ? "" : " ") + packageText(*package);
        return text;
    }
    std::vector<std::unique_ptr<CandidatePackage>> records;
    PackageList list;
};

std::string textsOf(const std::vector<InstalledPackage*>& packages) {
    std::string text;
    for (const InstalledPackage* package : packages)
        text += (text.empty() ? "" : " ") + packageText(*package);
    return text;
}

}  // namespace

TEST(LookupTest, NameLookupTakesTheFirstExactMatch) {
    TestSet set;
    addPackages(set, "a 1.0\nb\na 2.0\n");
    EXPECT_EQ(indexOfPackage(set, "a"), 0);
    EXPECT_EQ(findPackage(set, "a")->version, parseVersion("1.0"));
    EXPECT_EQ(indexOfPackage(set, "c"), -1);
    EXPECT_EQ(indexOfPackage(set, "A"), -1);
    EXPECT_EQ(indexOfPackage(set, "a "), -1);
    EXPECT_EQ(findPackage(set, "c"), nullptr);
}

TEST(LookupTest, FindPackageOrProviderPrefersTheFirstEnabledMatch) {
    struct Case {
        const char* set;
        const char* name;
        const char* expected;  // packageText, "" for none
    } cases[] = {
        {"x 1.0 disabled\ny provides=x", "x", "y-1.0"},
        {"x 1.0 disabled\ny provides=x@3.0..3.0 disabled\nz", "x", "y-1.0"},
        {"x 1.0 disabled\nx 2.0 disabled", "x", "x-2.0"},
        {"x 1.0\ny provides=x", "x", "x-1.0"},
        {"y provides=x\nx 1.0", "x", "y-1.0"},
        {"a\nb", "x", ""},
    };
    for (const Case& c : cases) {
        TestSet set;
        addPackages(set, c.set);
        InstalledPackage* found = findPackageOrProvider(set, c.name);
        EXPECT_EQ(found ? packageText(*found) : "", c.expected) << c.set;
    }
}

TEST(LookupTest, FindSatisfyingSkipsPlaceholdersAndDisabledRecords) {
    struct Case {
        const char* set;
        const char* dependency;
        bool includeDisabled;
        const char* expected;
    } cases[] = {
        {"a placeholder\na 1.0", "a", true, "a-1.0"},
        {"a disabled\nb provides=a", "a", false, "b-1.0"},
        {"a disabled\nb provides=a", "a", true, "a-1.0 b-1.0"},
        {"a 1.0\na 2.0\na 3.0", "a@2.0..2.0", true, "a-2.0"},
        {"a 1.0\na 2.0\na 3.0", "a@2.0", true, "a-2.0 a-3.0"},
        {"a 1.0\na 2.0\na 3.0", "a@..2.0", true, "a-1.0 a-2.0"},
        {"p provides=a@1.0..1.0", "a@2.0", true, ""},
        {"p provides=a", "a@2.0", true, "p-1.0"},
        {"p provides=a@3.0..3.0", "a@..2.0", true, ""},
        {"A\na.x\nb provides=A", "a", true, ""},
    };
    for (const Case& c : cases) {
        TestSet set;
        addPackages(set, c.set);
        EXPECT_EQ(textsOf(findSatisfying(set, parseDependency(c.dependency), c.includeDisabled)),
                  c.expected)
            << c.set << " / " << c.dependency;
    }
}

TEST(LookupTest, FindConflictingPassesOverDisabledRecords) {
    TestSet set;
    addPackages(set, "x disabled conflicts=n\ny 2.0 conflicts=n\nz conflicts=n");
    auto offered = parseCandidate("n");
    EXPECT_EQ(packageText(*findConflicting(set, *offered)), "y-2.0");
    EXPECT_EQ(findConflicting(set, *parseCandidate("m")), nullptr);
}

TEST(LookupTest, DisplacementFollowsTheFirstDecidingTest) {
    struct Case {
        const char* a;
        const char* b;
        bool aDisplacesB;
        bool bDisplacesA;
    } cases[] = {
        // Providers of one name: the greater priority wins, equal ones live together.
        {"p provides=x:5", "q provides=x:3", true, false},
        {"p provides=x:5", "q provides=x:5", false, false},
        // A provider of another package's name displaces it unless its priority is negative.
        {"p provides=q:0", "q", true, false},
        {"p provides=q:-1", "q", false, true},
        // Conflicts entries, with and without a version range.
        {"a conflicts=b", "b", true, false},
        {"a conflicts=b@2.0", "b 1.0", false, false},
        {"a conflicts=y", "b provides=y", true, false},
        {"a conflicts=y@2.0", "b provides=y@..1.0", false, false},
        // The priority test decides "no" before the conflicts list is looked at.
        {"a conflicts=y provides=z:1", "b provides=y,z:5", false, true},
        // A conflicts entry satisfied by name decides before priorities.
        {"a conflicts=b", "b provides=a:0", true, true},
        // Placeholders never conflict.
        {"a placeholder conflicts=b", "b", false, false},
        {"a conflicts=b", "b placeholder", false, false},
        // A bundle file whose member carries a's name is displaced by a.
        {"m", "B members=m", true, false},
    };
    for (const Case& c : cases) {
        auto a = parseCandidate(c.a);
        auto b = parseCandidate(c.b);
        EXPECT_EQ(conflictsWith(*a, *b), c.aDisplacesB) << c.a << " / " << c.b;
        EXPECT_EQ(conflictsWith(*b, *a), c.bDisplacesA) << c.b << " / " << c.a;
    }
}

TEST(LookupTest, BundleMemberConflictsAreTheBundles) {
    auto bundle = parseCandidate("B members=m");
    bundle->contents.front()->conflicts.push_back(parseDependency("z"));
    EXPECT_TRUE(conflictsWith(*bundle, *parseCandidate("z")));
    EXPECT_FALSE(conflictsWith(*parseCandidate("z"), *bundle));
}

TEST(LookupTest, NeedsReachIntoBundleMembersBothWays) {
    auto user = parseCandidate("u deps=m");
    auto bundle = parseCandidate("B members=m,n");
    auto needy = parseCandidate("C members=u");
    needy->contents.front()->deps.push_back(parseDependency("m"));
    EXPECT_TRUE(dependsOn(*user, *bundle));
    EXPECT_TRUE(dependsOn(*needy, *parseCandidate("m")));
    EXPECT_TRUE(dependsOn(*needy, *bundle));
    EXPECT_FALSE(dependsOn(*bundle, *user));
    EXPECT_TRUE(dependsOn(*parseCandidate("v deps=x@2.0"), *parseCandidate("w provides=x")));
    EXPECT_FALSE(dependsOn(*parseCandidate("v deps=x@2.0"), *parseCandidate("x 1.0")));
}

TEST(LookupTest, CompareRecordsLooksThroughBundles) {
    struct Case {
        const char* a;
        const char* b;
        int expected;
    } cases[] = {
        {"a 2.0", "a 1.0", 1},
        {"a 1.0 built=4", "a 1.0 built=5", -1},
        {"a 6.41rc1", "a 6.41beta3", 1},
        {"a 1.0", "a 1.0", 0},
        {"a 9.0", "b 1.0", 0},
        {"B 1.0 members=m@2.0", "m 1.0", 1},
        {"B 9.0 members=m@1.0", "m 2.0", -1},
        {"B 1.0 members=m@1.0,n@3.0", "n 2.0", 1},
        {"B 1.0 members=m@1.0", "m 1.0", 0},
        {"B members=m@2.0", "C members=m@1.0", 0},
    };
    for (const Case& c : cases) {
        auto a = parseCandidate(c.a);
        auto b = parseCandidate(c.b);
        EXPECT_EQ(compareRecords(*a, *b), c.expected) << c.a << " / " << c.b;
        EXPECT_EQ(compareRecords(*b, *a), -c.expected) << c.b << " / " << c.a;
        EXPECT_EQ(compareRecordsReversed(*a, *b, true), -c.expected) << c.a << " / " << c.b;
        EXPECT_EQ(compareRecordsReversed(*a, *b, false), c.expected) << c.a << " / " << c.b;
    }
}

TEST(LookupTest, SelectionKeepsOneVersionPerName) {
    const Version f = parseVersion("6.40");
    struct Case {
        std::vector<std::string> list;
        Version floor;
        bool report;
        const char* survivors;
        const char* log;
    } cases[] = {
        {{"a 1.0", "a 2.0", "b"},
         NoFloor,
         true,
         "b-1.0 a-2.0",
         "WARNING: omitting package a-1.0: newer package is already provided\n"},
        {{"a 2.0", "a 1.0"}, NoFloor, false, "a-2.0", ""},
        {{"a 1.0", "a 2.0"},
         0,
         true,
         "a-1.0",
         "WARNING: omitting package a-2.0: older package is already provided\n"},
        {{"a 1.0", "a 1.0"}, NoFloor, true, "", ""},
        {{"B members=a", "a"}, NoFloor, true, "B-1.0", ""},
        {{"a", "B members=a"}, NoFloor, true, "B-1.0", ""},
        {{"B 1.0 members=a@2.0", "a 1.0"},
         NoFloor,
         true,
         "B-1.0",
         "WARNING: omitting package a-1.0: newer package is already provided\n"},
        {{"a 6.39.10"}, f, false, "", "WARNING: ommitting package a-6.39.10: not allowed\n"},
        {{"a 6.40", "b 6.41"}, f, false, "b-6.41 a-6.40", ""},
        // An entry left out for the floor still supersedes the newer one.
        {{"a 6.39", "a 6.41"},
         f,
         true,
         "",
         "WARNING: ommitting package a-6.39: not allowed\n"
         "WARNING: omitting package a-6.41: older package is already provided\n"},
    };
    for (const Case& c : cases) {
        TestSet set;
        CandidateList candidates(c.list);
        selectAndOrder(set, candidates.list, c.floor, c.report);
        EXPECT_EQ(candidates.texts(), c.survivors) << c.list.front();
        EXPECT_EQ(logText(set), c.log) << c.list.front();
    }
}

TEST(LookupTest, OrderingPlacesEachEntryAfterWhatItNeeds) {
    struct Case {
        std::vector<std::string> list;
        const char* ordered;
    } cases[] = {
        {{"A deps=B", "B"}, "B A"},
        {{"B", "A deps=B"}, "B A"},
        {{"A", "B"}, "B A"},
        {{"A deps=B", "B deps=A"}, "A B"},
        {{"X", "A deps=B", "B deps=X"}, "A X B"},
        {{"B conflicts=A", "A"}, "B A"},
        {{"A", "B conflicts=A"}, "B A"},
        {{"C deps=A", "A", "B deps=A,C"}, "A C B"},
        {{"A deps=x", "P provides=x", "Q"}, "Q P A"},
    };
    for (const Case& c : cases) {
        TestSet set;
        CandidateList candidates(c.list);
        selectAndOrder(set, candidates.list, NoFloor, true);
        std::string names;
        for (const Package* package : candidates.list)
            names += (names.empty() ? "" : " ") + package->name;
        EXPECT_EQ(names, c.ordered) << c.list.front();
        EXPECT_TRUE(set.log.empty());
    }
}
