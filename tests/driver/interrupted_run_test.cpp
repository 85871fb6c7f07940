// Runs cut short at every change they make to the file system, as a crash would cut them:
// the next start, which does nothing else ("--show"), must finish what the run had begun
// to commit and leave no temporary file behind, so that every package is wholly old or
// wholly new. A second cut at every change of that finishing must not alter the outcome.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <tuple>

#include "support/packages.h"

namespace {

namespace fs = std::filesystem;

constexpr int InterruptedStatus = 99;  // the exit status the preloaded library ends with
const std::string PreloadInside = "/.test-bin/libinterrupt_after.so";
const Version Old = 0x07106600, Next = 0x07106601;  // 7.16 and 7.16.1

// What a path holds: kind ('f', 'l', 'd'), permission bits, content or link target.
using Entry = std::tuple<char, unsigned, std::string>;
using Tree = std::map<std::string, Entry>;

// All a run may change but the post-install log and the marker of a run in progress.
Tree deviceTree(const DeviceRoot& root) {
    Tree tree;
    for (const char* top : {"flash", "ram", "rw"}) {
        for (const auto& item : fs::recursive_directory_iterator(root.path(top))) {
            std::string path = item.path().string().substr(root.root().size() + 1);
            if (path == "flash/postlog" || path == "flash/var/pdb/.temporaries")
                continue;
            struct stat st;
            lstat(item.path().c_str(), &st);
            unsigned mode = st.st_mode & 07777;
            if (S_ISLNK(st.st_mode))
                tree[path] = {'l', 0, root.linkTarget(path)};
            else
                tree[path] = S_ISDIR(st.st_mode) ? Entry{'d', mode, ""}
                                                 : Entry{'f', mode, root.readFile(path)};
        }
    }
    return tree;
}

// Makes the device's file systems under to hold what those under from hold.
void copyDevice(const std::string& from, const std::string& to) {
    for (const char* top : {"flash", "ram", "rw"}) {
        fs::create_directories(to + "/" + top);
        for (const auto& item : fs::directory_iterator(to + "/" + top))
            fs::remove_all(item.path());
        fs::copy(from + "/" + top, to + "/" + top,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }
}

// A run of the installer on the device: "--commit" acts on the current root, so it is
// started inside it.
struct Run {
    std::vector<std::string> args;
    std::string input = "";
    std::vector<std::string> env = {};
    bool inside = false;
};

// The run with the interruption library preloaded: ended at its limit-th change of the
// file system, or, with limit 0, counting them.
RunResult perform(const DeviceRoot& root, const Run& run, int limit) {
    std::vector<std::string> env = run.env;
    env.push_back("LD_PRELOAD=" + (run.inside ? PreloadInside : InterruptLibrary));
    env.push_back("INTERRUPT_AFTER_CALLS=" + std::to_string(limit));
    return run.inside ? root.runInside(run.args, run.input, env)
                      : root.runOnRoot(run.args, run.input, env);
}

int callsOf(const RunResult& result) {
    size_t at = result.err.rfind("mutating calls: ");
    return at == std::string::npos ? -1 : atoi(result.err.c_str() + at + 16);
}

const Run Show = {{"--show"}};

std::multiset<std::string> sortedLines(const std::string& text) {
    std::vector<std::string> lines = messageLines(text);
    return {lines.begin(), lines.end()};
}

// The device, and the table of the start that follows the run.
using Outcome = std::pair<Tree, std::string>;

// One more start that does nothing else; it finishes what an interrupted run left.
Outcome nextStart(const DeviceRoot& root) {
    RunResult shown = root.runOnRoot({"--show"});
    EXPECT_EQ(shown.status, 0) << shown.out << shown.err;
    std::string table = shown.out;
    const std::string finishing = "finishing an interrupted install\n";
    if (table.compare(0, finishing.size(), finishing) == 0)
        table.erase(0, finishing.size());
    return {deviceTree(root), table};
}

// Cuts the run at each of its changes: the next start leaves the device as it was before
// the run (only while no journal was on flash) or as the whole run leaves it. Then, for
// the first, a middle and the last cut that left a journal, cuts the finishing start at
// each of its own changes.
void expectEveryCutFinished(const DeviceRoot& root, const Run& run) {
    REQUIRE_INTERRUPT_LIBRARY();
    DeviceRoot store;
    root.makeDir(".test-bin");
    fs::copy_file(InterruptLibrary, root.path(PreloadInside), fs::copy_options::skip_existing);
    copyDevice(root.root(), store.path("before"));
    Outcome before = nextStart(root);
    // The post-install log is the old one or the whole new one (whose lines come in the
    // order the download folder lists the files, which a copy of the device may change).
    std::string oldLog = root.readFile("flash/postlog");
    RunResult whole = perform(root, run, 0);
    ASSERT_EQ(whole.status, 0) << whole.out << whole.err;
    int calls = callsOf(whole);
    std::string newLog = root.readFile("flash/postlog");
    Outcome after = nextStart(root);
    ASSERT_GT(calls, 0) << whole.err;
    ASSERT_FALSE(after == before);

    std::vector<int> journaled;
    for (int call = 1; call <= calls && !::testing::Test::HasFailure(); ++call) {
        copyDevice(store.path("before"), root.root());
        RunResult cut = perform(root, run, call);
        ASSERT_EQ(cut.status, InterruptedStatus) << "call " << call << ": " << cut.err;
        bool journal = root.exists("flash/var/pdb/.journal");
        if (journal)
            journaled.push_back(call);
        std::string log = root.readFile("flash/postlog");
        EXPECT_TRUE(log == oldLog || sortedLines(log) == sortedLines(newLog))
            << "cut at call " << call << ": " << log;
        Outcome outcome = nextStart(root);
        EXPECT_TRUE(outcome == after || (!journal && outcome == before))
            << "cut at call " << call << " of " << calls << ": " << outcome.second;
    }
    ASSERT_FALSE(journaled.empty());
    for (int call : {journaled.front(), journaled[journaled.size() / 2], journaled.back()}) {
        copyDevice(store.path("before"), root.root());
        perform(root, run, call);
        copyDevice(root.root(), store.path("cut"));
        int finishing = callsOf(perform(root, Show, 0));
        ASSERT_GT(finishing, 0);
        for (int second = 1; second <= finishing && !::testing::Test::HasFailure(); ++second) {
            copyDevice(store.path("cut"), root.root());
            ASSERT_EQ(perform(root, Show, second).status, InterruptedStatus);
            EXPECT_TRUE(nextStart(root) == after)
                << "cut at call " << call << ", then at call " << second << " of the finishing";
        }
    }
    printf("%d cuts, %zu with a journal\n", calls, journaled.size());
}

std::string package(const char* name, Version version, uint32_t flags,
                    const std::vector<FileEntry>& files, const std::string& image = "") {
    PackageSpec made = spec(name, version, files, flags);
    made.image = image;
    return packageFile(made);
}

// Installed: webtool, dns and legacy described by meta files, and the system package
// whose stored file is the boot image. Waiting in the download directory: webtool (files
// replaced, added, dropped, one empty), dns (one file unchanged), system (a boot image of
// several copy blocks) and vpn, new, keeping its image. legacy is scheduled for
// uninstalling. /ram and /rw are file systems of their own, so that files cross into
// /flash by copy: body runs with them.
bool withUpgradeOffered(const DeviceRoot& root, const std::function<void()>& body) {
    const std::pair<const char*, std::vector<const char*>> installed[] = {
        {"webtool", {"bin/webtool", "etc/webtool.conf", "share/webtool/old-doc"}},
        {"dns", {"bin/dns", "lib/libdns.so"}},
        {"legacy", {"bin/legacy", "share/legacy/data"}},
    };
    const std::string db = "flash/var/pdb/", download = "rw/pckg/.download/";
    for (const auto& [name, files] : installed) {
        root.writeFile(db + name + "/version", std::to_string(Old) + " 1600000000\n");
        root.writeFile(db + name + "/deps", "");
        std::string list;
        for (const std::string file : files) {
            list += file + "\n";
            root.writeFile("flash/" + file, "old " + file,
                           file.rfind("bin/", 0) == 0 ? 0755 : 0644);
        }
        root.writeFile(db + name + "/files", list);
    }
    root.writeFile("flash/bootimage", package("system", Old, FlagBootImage, {}, "old"));
    root.makeDir(db + "system");
    EXPECT_EQ(symlink("/flash/bootimage", root.path(db + "system/image").c_str()), 0);
    return runWithMounts(root.root(), {{"ram", "size=4m"}, {"rw", "size=4m"}}, [&] {
        root.writeFile(download + "webtool.npk", package("webtool", Next, 0,
                                                         {{"bin/webtool", "new webtool", 0100755},
                                                          {"etc/webtool.conf", "new conf"},
                                                          {"share/webtool/new-doc", "new doc"},
                                                          {"etc/webtool.d/empty", ""}}));
        root.writeFile(download + "dns.npk", package("dns", Next, 0,
                                                     {{"bin/dns", "new dns", 0100755},
                                                      {"lib/libdns.so", "old lib/libdns.so"}}));
        root.writeFile(download + "vpn.npk",
                       package("vpn", Next, 0, {{"bin/vpn", "vpn", 0100755}}, "vpn image"));
        std::string kernel;
        for (int i = 0; kernel.size() < 40000; ++i)
            kernel += "kernel block " + std::to_string(i) + "\n";
        root.writeFile(download + "system.npk",
                       package("system", Next, FlagBootImage, {{"boot/kernel", "new"}}, kernel));
        root.writeFile("ram/pdb/legacy/schedule", "uninstall\n");
        body();
    });
}

// A bundle "suite" kept as its stored image, with members of its own.
std::string suite(Version version,
                  const std::vector<std::pair<const char*, const char*>>& members) {
    std::vector<std::string> files;
    for (const auto& [name, content] : members)
        files.push_back(
            package(name, version, 0, {{std::string("bin/") + name, content, 0100755}}));
    return signedBundle(Package("suite", version, 1700000000), files, {}, "suite image");
}

}  // namespace

TEST(InterruptedRunTest, UpgradeRun) {
    REQUIRE_DEVELOPMENT_KEYS();
    DeviceRoot root;
    EXPECT_TRUE(withUpgradeOffered(root, [&] {
        expectEveryCutFinished(root, {{}, "", {"bootimage="}});
    }));
}

TEST(InterruptedRunTest, CommitOfSavedUpgrade) {
    REQUIRE_DEVELOPMENT_KEYS();
    DeviceRoot root;
    EXPECT_TRUE(withUpgradeOffered(root, [&] {
        RunResult saved = root.runOnRoot({"--safe"}, "", {"bootimage="});
        ASSERT_EQ(saved.status, 0) << saved.out << saved.err;
        expectEveryCutFinished(root, {{"--commit"}, "", {}, true});
    }));
}

TEST(InterruptedRunTest, BundleKeptAsImage) {
    REQUIRE_DEVELOPMENT_KEYS();
    DeviceRoot root;
    ASSERT_EQ(installFromStdin(root, suite(Old, {{"a", "old a"}, {"b", "old b"}})).status, 0);
    root.writeFile("rw/pckg/.download/suite.npk", suite(Next, {{"a", "new a"}, {"c", "new c"}}));
    expectEveryCutFinished(root, {});
}

TEST(InterruptedRunTest, InstallFromStandardInput) {
    REQUIRE_DEVELOPMENT_KEYS();
    DeviceRoot root;
    const std::vector<FileEntry> old = {
        {"bin/p", "old p", 0100755}, {"etc/p.conf", "old conf"}, {"share/p/old", "old"}};
    ASSERT_EQ(installFromStdin(root, package("p", Old, 0, old)).status, 0);
    const std::vector<FileEntry> next = {{"bin/p", "new p", 0100755}, {"share/p/new", "new"}};
    expectEveryCutFinished(root, {{"-"}, package("p", Next, 0, next, "p image")});
}

TEST(InterruptedRunTest, Cleanup) {
    REQUIRE_DEVELOPMENT_KEYS();
    DeviceRoot root;
    for (const char* name : {"system", "extra", "more"})
        ASSERT_EQ(installFromStdin(root, simplePackage(name)).status, 0);
    expectEveryCutFinished(root, {{"--cleanup"}});
}
