// The planning index gives what the scanning lookups give, on random sets full of shared names.
#include "plan/package_index.h"

#include <algorithm>
#include <random>

#include <gtest/gtest.h>

#include "plan/lookup.h"
#include "support/set_text.h"

TEST(PackageIndexTest, AnswersMatchTheScanningLookups) {
    std::mt19937 random(7);
    auto pick = [&](int count) { return int(random() % count); };
    auto name = [&] { return std::string(1, "abcde"[pick(5)]); };
    auto entry = [&] {
        std::string bounds = pick(3) ? "" : "@" + std::to_string(1 + pick(3)) + ".0..3.0";
        return name() + bounds + ":" + std::to_string(pick(5) - 2);
    };
    for (int round = 0; round < 200; ++round) {
        TestSet set;
        for (int i = 0; i < 12; ++i)
            addPackages(set, name() + " " + std::to_string(1 + pick(4)) + ".0" +
                                 (pick(4) ? "" : " disabled") + (pick(8) ? "" : " placeholder") +
                                 " deps=" + entry() + " provides=" + entry() + "," + entry() +
                                 " conflicts=" + entry());
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
            Positions displaced = index.mayBeDisplacedBy(first),
                      displacers = index.mayDisplace(first);
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
