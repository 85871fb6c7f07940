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
    const char* names[] = {"a", "b", "c", "d", "e"};
    auto pick = [&](int count) { return random() % count; };
    auto entry = [&] {
        std::string text = names[pick(5)];
        if (pick(3) == 0)
            text += "@" + std::to_string(1 + pick(3)) + ".0.." + std::to_string(2 + pick(3)) + ".0";
        return text + ":" + std::to_string(int(pick(5)) - 2);
    };
    for (int i = 0; i < 12; ++i) {
        std::string record = std::string(names[pick(5)]) + " " + std::to_string(1 + pick(4)) + ".0";
        record += pick(4) == 0 ? " disabled" : "";
        record += pick(8) == 0 ? " placeholder" : "";
        record += " deps=" + entry() + " provides=" + entry() + "," + entry();
        record += " conflicts=" + entry();
        addPackages(set, record);
    }
}

bool holds(const Positions& positions, size_t position) {
    return std::binary_search(positions.begin(), positions.end(), position);
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
                EXPECT_TRUE(!conflictsWith(first, *set.packages[b]) || holds(displaced, b))
                    << round << ": " << a << " displaces " << b;
                EXPECT_TRUE(!conflictsWith(*set.packages[b], first) || holds(displacers, b))
                    << round << ": " << b << " displaces " << a;
            }
        }
    }
}
