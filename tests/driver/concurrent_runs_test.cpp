// Two runs at once: a run that reaches the device while another holds it waits for it to
// end, or gives up after its time, having changed nothing; no package is lost or mixed.
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>

#include "support/packages.h"

// The first run installs alpha from standard input, which arrives in two halves a second
// apart; the second, started meanwhile, installs beta from standard input or, inside the
// root, from a saved manifest.
TEST(ConcurrentRunsTest, SecondRunWaitsOrGivesUp) {
    REQUIRE_DEVELOPMENT_KEYS();
    std::string alpha, beta;
    for (std::string* file : {&alpha, &beta}) {
        std::string name = file == &alpha ? "alpha" : "beta";
        *file = packageFile(spec(name, version7(10), {{"bin/" + name, name, 0100755}}, 0,
                                 std::string(100000, name[0])));
    }
    // how the second run installs beta | seconds it waits at most
    const std::pair<std::string, const char*> cases[] = {
        {"-", "30"}, {"--commit", "30"}, {"-", "0"}};
    for (const auto& [how, wait] : cases) {
        SCOPED_TRACE(how + ", waiting at most " + wait + " seconds");
        DeviceRoot root;
        if (how == "--commit") {
            root.writeFile("rw/pckg/.download/beta.npk", beta);
            ASSERT_EQ(root.runOnRoot({"--safe"}).status, 0);
            // The first run inside the root copies the binary in (long under the sanitizers);
            // done now, it does not eat the first run's head start.
            ASSERT_EQ(root.runInside({"--show"}).status, 0);
        }
        RunResult first;
        std::thread firstRun(
            [&] { first = installFromStdin(root, alpha, {}, {"PAUSE_INPUT_MS=1500"}); });
        usleep(500000);
        std::vector<std::string> env = {std::string("INSTALLER_LOCK_WAIT=") + wait};
        RunResult second = how == "-" ? installFromStdin(root, beta, {}, env)
                                      : root.runInside({"--commit"}, "", env);
        firstRun.join();
        EXPECT_EQ(first.status, 0) << first.out;
        EXPECT_EQ(root.readFile("flash/var/pdb/alpha/image"), alpha);
        EXPECT_EQ(root.readFile("flash/bin/alpha"), "alpha");
        if (std::string(wait) == "0") {
            EXPECT_EQ(second.status, 1);
            EXPECT_EQ(lastMessage(second),
                      "ERROR: another installer run is still going on: gave up after 0 seconds");
            EXPECT_FALSE(root.exists("flash/var/pdb/beta"));
        } else {
            EXPECT_EQ(second.status, 0) << second.out << second.err;
            EXPECT_NE(second.out.find("waiting for another installer run to end...\n"),
                      std::string::npos);
            EXPECT_EQ(root.readFile("flash/var/pdb/beta/image"), beta);
            EXPECT_EQ(root.readFile("flash/bin/beta"), "beta");
        }
    }
}
