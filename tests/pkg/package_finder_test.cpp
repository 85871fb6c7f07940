// Finding package files: which names are taken, and broken files reported by their name.
#include "pkg/package_finder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "pkg/package_set.h"
#include "support/packages.h"

TEST(PackageFinderTest, TakesReadablePackageFilesAndReportsBrokenOnes) {
    DeviceRoot root;
    const std::string file = PackageWriter().header(Package("p", 1, 1)).bytes();
    for (const char* name : {"a.npk", "b.dpk", "c.txt", ".hidden.npk", "A.NPK", "npk"})
        root.writeFile(std::string("dl/") + name, file);
    root.writeFile("dl/cut.npk", file.substr(0, file.size() - 1));
    root.makeDir("dl/dir.npk");
    mkfifo(root.path("dl/fifo.npk").c_str(), 0644);
    struct Case {
        std::string dir;
        std::set<std::string> found;
        std::set<std::string> messages;
    } cases[] = {
        {root.path("dl/"),
         {"a.npk", "b.dpk"},
         {"ERROR: broken package cut.npk", "ERROR: broken package dir.npk",
          "ERROR: broken package fifo.npk"}},
        {root.path("flash/"), {}, {}},
        {root.path("missing/"), {}, {}},
    };
    for (const Case& c : cases) {
        PackageSet set;
        std::ostringstream out;
        set.out = &out;
        CandidateList list;
        findPackageFiles(set, c.dir, list);
        std::set<std::string> found;
        for (const auto& record : list) {
            EXPECT_EQ(record->name, "p");
            found.insert(record->path.substr(c.dir.size()));
        }
        EXPECT_EQ(found, c.found) << c.dir;
        EXPECT_EQ(std::set<std::string>(set.log.begin(), set.log.end()), c.messages) << c.dir;
    }
}
