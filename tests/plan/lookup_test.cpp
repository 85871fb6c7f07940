// Lookups, displacement, record comparison and the thinning and ordering of lists.
#include "plan/lookup.h"

#include <gtest/gtest.h>

#include "support/set_text.h"

namespace {

template <typename List>
std::string textsOf(const List& packages) {
    std::string text;
    for (const Package* package : packages)
        text += (text.empty() ? "" : " ") + packageText(*package);
    return text.empty() ? "-" : text;
}

std::string textOf(const Package* package) {
    return package ? packageText(*package) : "-";
}

// The answer to query on records; "displaces" and "compare" take records as one candidate.
std::string answer(const std::string& records, const std::string& query,
                   const std::string& argument) {
    if (query == "displaces" || query == "compare") {
        auto a = parseCandidate(records), b = parseCandidate(argument);
        if (query == "displaces")  // a displaces b, b displaces a
            return std::to_string(conflictsWith(*a, *b)) + " " +
                   std::to_string(conflictsWith(*b, *a));
        return std::to_string(compareRecords(*a, *b)) + " " +
               std::to_string(compareRecords(*b, *a)) + " " +
               std::to_string(compareRecordsReversed(*a, *b, true));
    }
    TestSet set;
    addPackages(set, records);
    if (query == "index")
        return std::to_string(indexOfPackage(set, argument));
    if (query == "provider")
        return textOf(findPackageOrProvider(set, argument));
    if (query == "conflicting")
        return textOf(findConflicting(set, *parseCandidate(argument)));
    return textsOf(findSatisfying(set, parseDependency(argument), query == "satisfying-all"));
}

}  // namespace

// Lookups take the first match and pass over placeholders; displacement follows the first
// deciding test and is not symmetric; record comparison looks through bundles.
// set | query | argument | answer ("-" for none)
TEST(LookupTest, LookupsDisplacementAndComparison) {
    for (const std::string& line : fields(R"(
        a 1.0; b; a 2.0                               | index          | a                  | 0
        x disabled; y provides=x                      | provider       | x                  | y-1.0
        x disabled; y provides=x@3.0..3.0 disabled; z | provider       | x                  | y-1.0
        x 1.0 disabled; x 2.0 disabled                | provider       | x                  | x-2.0
        x 1.0; y provides=x                           | provider       | x                  | x-1.0
        a; b                                          | provider       | x                  | -
        a placeholder; a 1.0                          | satisfying-all | a                  | a-1.0
        a disabled; b provides=a                      | satisfying     | a                  | b-1.0
        a disabled; b provides=a                      | satisfying-all | a                  | a-1.0 b-1.0
        a 1.0; a 2.0; a 3.0                           | satisfying-all | a@..2.0            | a-1.0 a-2.0
        p provides=a@1.0..1.0                         | satisfying-all | a@2.0              | -
        p provides=a                                  | satisfying-all | a@2.0              | p-1.0
        A; b provides=A                               | satisfying-all | a                  | -
        x disabled conflicts=n; y 2.0 conflicts=n     | conflicting    | n                  | y-2.0
        p provides=x:5                                | displaces      | q provides=x:3     | 1 0
        p provides=x:5                                | displaces      | q provides=x:5     | 0 0
        p provides=q:0                                | displaces      | q                  | 1 0
        p provides=q:-1                               | displaces      | q                  | 0 1
        a conflicts=b                                 | displaces      | b                  | 1 0
        a conflicts=b@2.0                             | displaces      | b 1.0              | 0 0
        a conflicts=y                                 | displaces      | b provides=y       | 1 0
        a conflicts=y provides=z:1                    | displaces      | b provides=y,z:5   | 0 1
        a conflicts=b                                 | displaces      | b provides=a:0     | 1 1
        a placeholder conflicts=b                     | displaces      | b                  | 0 0
        a conflicts=b                                 | displaces      | b placeholder      | 0 0
        m                                             | displaces      | B members=m        | 1 0
        a 2.0                                         | compare        | a 1.0              | 1 -1 -1
        a 1.0 built=4                                 | compare        | a 1.0 built=5      | -1 1 1
        a 9.0                                         | compare        | b 1.0              | 0 0 0
        B 1.0 members=m@2.0                           | compare        | m 1.0              | 1 -1 -1
        B 9.0 members=m@1.0,n@3.0                     | compare        | n 2.0              | 1 -1 -1
        B 1.0 members=m@1.0                           | compare        | m 1.0              | 0 0 0
        B members=m@2.0                               | compare        | C members=m@1.0    | 0 0 0
    )",
                                          '\n')) {
        std::vector<std::string> f = fields(line, '|');
        EXPECT_EQ(answer(f[0], f[1], f[2]), f[3]) << line;
    }
}

TEST(LookupTest, RelationsReachIntoBundleMembers) {
    auto bundle = parseCandidate("B members=m,n");
    bundle->contents.front()->conflicts.push_back(parseDependency("z"));
    bundle->contents.back()->deps.push_back(parseDependency("y"));
    EXPECT_TRUE(conflictsWith(*bundle, *parseCandidate("z")));
    EXPECT_TRUE(dependsOn(*bundle, *parseCandidate("y")));
    EXPECT_TRUE(dependsOn(*parseCandidate("u deps=m"), *bundle));
    EXPECT_FALSE(dependsOn(*parseCandidate("u deps=m@2.0"), *bundle));
}

// list | floor ("-" for none) | report | result | warnings
TEST(LookupTest, SelectionKeepsOneVersionPerNameAndOrderingFollowsNeeds) {
    for (const std::string& line : fields(R"(
        a 1.0; a 2.0; b      | -    | 1 | b-1.0 a-2.0 | WARNING: omitting package a-1.0: newer package is already provided
        a 2.0; a 1.0         | -    | 0 | a-2.0       |
        a 1.0; a 2.0         | 0    | 1 | a-1.0       | WARNING: omitting package a-2.0: older package is already provided
        a 1.0; a 1.0         | -    | 1 | -           |
        B members=a; a       | -    | 1 | B-1.0       |
        a; B members=a       | -    | 1 | B-1.0       |
        a 6.39.10            | 6.40 | 0 | -           | WARNING: ommitting package a-6.39.10: not allowed
        a 6.39; a 6.41       | 6.40 | 0 | -           | WARNING: ommitting package a-6.39: not allowed
        A deps=B; B          | -    | 1 | B-1.0 A-1.0 |
        A deps=B; B deps=A   | -    | 1 | A-1.0 B-1.0 |
        X; A deps=B; B deps=X | -   | 1 | A-1.0 X-1.0 B-1.0 |
        A; B conflicts=A     | -    | 1 | B-1.0 A-1.0 |
        C deps=A; A; B deps=A,C | - | 1 | A-1.0 C-1.0 B-1.0 |
    )",
                                          '\n')) {
        std::vector<std::string> f = fields(line, '|');
        TestSet set;
        std::vector<std::unique_ptr<CandidatePackage>> records;
        PackageList list;
        for (const std::string& record : fields(f[0], ';')) {
            records.push_back(parseCandidate(record));
            list.push_back(records.back().get());
        }
        selectAndOrder(set, list, f[1] == "-" ? NoFloor : parseVersion(f[1]), f[2] == "1");
        EXPECT_EQ(textsOf(list), f[3]) << line;
        EXPECT_EQ(logText(set), f.size() > 4 ? f[4] : "") << line;
    }
}
