// The planning index gives what the scanning lookups give, on sets full of shared names.
#include "plan/package_index.h"

#include <algorithm>
#include <random>

#include <gtest/gtest.h>

#include "plan/lookup.h"
#include "support/package_table.h"

namespace {

// Records named from a small alphabet, with random versions, states and lists that
// reuse the same names.
void fillRandomly(PackageSet& set, std::mt19937& random) {
    auto pick = [&](int count) { return int(random() % count); };
    auto name = [&] { return std::string(1, "abcde"[pick(5)]); };
    auto entry = [&] {
        std::string text = name();
        if (pick(3) == 0)
            text += "@" + std::to_string(1 + pick(3)) + ".0.." + std::to_string(2 + pick(3)) + ".0";
        return text + ":" + std::to_string(pick(5) - 2);
    };
    for (int i = 0; i < 12; ++i) {
        std::string record = name() + " " + std::to_string(1 + pick(4)) + ".0";
        record += pick(4) == 0 ? " disabled" : "";
        record += pick(8) == 0 ? " placeholder" : "";
        addPackages(set, record + " deps=" + entry() + " provides=" + entry() + "," + entry() +
                             " conflicts=" + entry());
    }
}

}  // namespace

TEST(PackageIndexTest, AnswersMatchTheScanningLookups) {
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        TestSet set;
        fillRandomly(set, random);
        PackageIndex index(set);
        for (size_t a = 0; a < set.packages.size(); ++a) {
            const InstalledPackage& first = *set.packages[a];
            EXPECT_EQ(index.find(first.name), findPackage(set, first.name));
            for (bool withDisabled : {false, true}) {
                std::vector<InstalledPackage*> found;
                for (size_t position : index.satisfying(first.deps[0], withDisabled))
                    found.push_back(&index.at(position));
                EXPECT_EQ(found, findSatisfying(set, first.deps[0], withDisabled));
            }
            Positions displaced = index.mayBeDisplacedBy(first);
            Positions displacers = index.mayDisplace(first);
            for (size_t b = 0; b < set.packages.size(); ++b) {
                const InstalledPackage& second = *set.packages[b];
                EXPECT_TRUE(!conflictsWith(first, second) ||
                            std::binary_search(displaced.begin(), displaced.end(), b))
                    << round << ": " << a << " displaces " << b;
                EXPECT_TRUE(!conflictsWith(second, first) ||
                            std::binary_search(displacers.begin(), displacers.end(), b))
                    << round << ": " << b << " displaces " << a;
            }
        }
    }
}
