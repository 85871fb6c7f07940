// Commits that can't complete end with a failing status and leave no package half new.
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>

#include "support/files.h"
#include "support/packages.h"
#include "support/set_text.h"

namespace {

const std::string Download = "rw/pckg/.download/";

std::string big(Version version, size_t kib, char fill, size_t imageKib = 0) {
    return packageFile(spec("big", version, {{"bin/big", std::string(kib * 1024, fill), 0100755}},
                            0, std::string(imageKib * 1024, 'i')));
}

std::vector<std::string> preloaded(const std::string& more) {
    return {"LD_PRELOAD=" + InterruptLibrary, more};
}

}  // namespace

// On a flash of 64 blocks holding a file of 35, a new version is built in /ram and copied
// in place of the old one. The check refuses too little room; without it ("--reinstall")
// what fits at all installs, the rest is refused unchanged, as is an image cut short, and
// so are runs that a folder in the way of the saved manifest or of the marker fails.
TEST(FailedCommitTest, NearlyFullFlashInstallsWholeOrNotAtAll) {
    REQUIRE_DEVELOPMENT_KEYS();
    // new size and image size (KiB) | arguments | status | last message | folder in the way
    const std::tuple<size_t, size_t, const char*, int, const char*, const char*> cases[] = {
        {140, 0, "", 0, "installed big-7.11", ""},
        {200, 0, "", 28, "ERROR: not enough space for upgrade", ""},
        {200, 0, "--reinstall", 0, "installed big-7.11", ""},
        {260, 0, "--reinstall", 1, "ERROR: commit failed: /flash: No space left on device", ""},
        {20, 200, "-", 1, "ERROR: installation of big-7.11 failed: disk is too small", ""},
        {140, 0, "--safe", 1, "ERROR: could not save /ram/MANIFEST", "ram/MANIFEST/x"},
        {140, 0, "", 1, "ERROR: could not create /flash/PCKGS_CHANGED: Is a directory",
         "flash/PCKGS_CHANGED"},
    };
    for (const auto& [kib, imageKib, args, status, message, folder] : cases) {
        DeviceRoot root;
        EXPECT_TRUE(runWithMounts(
            root.root(), {{"flash", "size=256k"}},
            [&] {
                for (const char* dir : {"flash/boot", "flash/var/pdb"})
                    root.makeDir(dir);
                RunResult first = installFromStdin(root, big(version7(10), 140, 'o'));
                ASSERT_EQ(first.status, 0) << first.out << first.err;
                const std::string offered = big(version7(11), kib, 'n', imageKib);
                root.writeFile(Download + "big.npk", offered);
                root.makeDir(folder);
                auto before = deviceState(root);
                RunResult run = root.runOnRoot(fields(args, ' '), offered);
                EXPECT_EQ(run.status, status) << run.out;
                EXPECT_EQ(lastMessage(run), message);
                if (status == 0) {
                    EXPECT_EQ(root.readFile("flash/bin/big"), std::string(kib * 1024, 'n'));
                    EXPECT_EQ(directoryNames(root.path("ram")), std::set<std::string>());
                } else {
                    EXPECT_EQ(deviceState(root), before);
                }
            }))
            << kib << " KiB: " << message;
    }
}

// A rename that the flash refuses is reported, and the next start finishes the commit.
TEST(FailedCommitTest, FailedStepIsReportedAndFinishedByTheNextStart) {
    REQUIRE_DEVELOPMENT_KEYS();
    REQUIRE_INTERRUPT_LIBRARY();
    DeviceRoot failing, clean;
    for (DeviceRoot* root : {&failing, &clean}) {
        ASSERT_EQ(installFromStdin(*root, simplePackage("p", version7(10))).status, 0);
        root->writeFile(Download + "p.npk", simplePackage("p", version7(11)));
    }
    ASSERT_EQ(clean.runOnRoot({}).status, 0);
    RunResult run = failing.runOnRoot({}, "", preloaded("FAIL_RENAMES_TO=/flash/bin/p"));
    EXPECT_EQ(run.status, 1);
    const std::string error = "ERROR: commit failed: /flash/bin/p: Input/output error";
    EXPECT_EQ(lastMessage(run), error);
    EXPECT_NE(failing.readFile("flash/postlog").find(error + "\n"), std::string::npos);
    EXPECT_TRUE(failing.exists("flash/var/pdb/.journal"));
    EXPECT_EQ(failing.runOnRoot({"-q", "--show"}).status, 0);
    EXPECT_EQ(deviceState(failing), deviceState(clean));
}

// A commit cut while its new file lies in /ram, lost by the next start: the package is
// marked incomplete and the next upgrade run installs it again.
TEST(FailedCommitTest, SourceLostWithTheRamDiskIsInstalledAgain) {
    REQUIRE_DEVELOPMENT_KEYS();
    REQUIRE_INTERRUPT_LIBRARY();
    DeviceRoot root;
    EXPECT_TRUE(runWithMounts(root.root(), {{"flash", "size=256k"}, {"ram", "size=1m"}}, [&] {
        for (const char* dir : {"flash/boot", "flash/var/pdb"})
            root.makeDir(dir);
        ASSERT_EQ(installFromStdin(root, big(version7(10), 140, 'o')).status, 0);
        root.writeFile(Download + "big.npk", big(version7(11), 140, 'n'));
        // The first cut after the journal is written; each start before it cleans up.
        for (int call = 1; !root.exists("flash/var/pdb/.journal"); ++call) {
            ASSERT_LT(call, 200);
            if (call > 1)
                root.runOnRoot({"--show"});
            RunResult cut =
                root.runOnRoot({}, "", preloaded("INTERRUPT_AFTER_CALLS=" + std::to_string(call)));
            ASSERT_EQ(cut.status, 99) << cut.err;
        }
        for (const std::string& name : directoryNames(root.path("ram")))
            unlink(root.path("ram/" + name).c_str());
        RunResult start = root.runOnRoot({"--show"});
        EXPECT_EQ(start.status, 1);
        EXPECT_NE(start.out.find("ERROR: commit failed: /flash/bin/big: its new file was lost\n"),
                  std::string::npos)
            << start.out;
        EXPECT_EQ(root.readFile("flash/var/pdb/big/incomplete"), "/flash/bin/big\n");
        RunResult again = root.runOnRoot({});
        EXPECT_EQ(again.status, 0);
        EXPECT_EQ(lastMessage(again), "installed big-7.11");
        EXPECT_EQ(root.readFile("flash/bin/big"), std::string(140 * 1024, 'n'));
        EXPECT_FALSE(root.exists("flash/var/pdb/big/incomplete"));
    }));
}

// A signal while a package streams in ends the run by it, with nothing staged left.
TEST(FailedCommitTest, SignalWhileStagingLeavesNothing) {
    REQUIRE_DEVELOPMENT_KEYS();
    std::vector<FileEntry> files;
    for (int i = 0; i < 40; ++i)
        files.push_back({"share/doc/" + std::to_string(i), std::string(20000, char('a' + i % 26))});
    const std::string file = packageFile(spec("docs", version7(10), files));
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        DeviceRoot root;
        ASSERT_EQ(installFromStdin(root, simplePackage("system")).status, 0);
        auto before = deviceState(root);
        RunResult run = installFromStdin(
            root, file, {}, {"PAUSE_INPUT_MS=300", "SIGNAL_AT_PAUSE=" + std::to_string(signal)});
        EXPECT_EQ(run.status, 128 + signal) << run.out;
        EXPECT_EQ(deviceState(root), before) << signal;
    }
}
