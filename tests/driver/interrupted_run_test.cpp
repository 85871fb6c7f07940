// Runs cut short at each change of the file system, as by a crash: the next start ("--show")
// leaves every package wholly old or wholly new and no temporary file, also when cut in turn.
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <set>

#include "support/packages.h"

namespace {

namespace fs = std::filesystem;

const std::string PreloadInside = "/.test-bin/libinterrupt_after.so";
const Version Old = 0x07106600, Next = 0x07106601;  // 7.16 and 7.16.1

// What a run may change (with permission bits) less the post-install log and the marker of
// a run in progress, and the table of the next start, which finishes an interrupted run.
using Outcome = std::pair<std::map<std::string, std::pair<std::string, mode_t>>, std::string>;

Outcome nextStart(const DeviceRoot& root) {
    RunResult shown = root.runOnRoot({"--show"});
    EXPECT_EQ(shown.status, 0) << shown.out << shown.err;
    const std::string finishing = "finishing an interrupted install\n";
    Outcome outcome;
    outcome.second = shown.out.substr(shown.out.rfind(finishing, 0) == 0 ? finishing.size() : 0);
    for (const auto& [path, content] : root.snapshot()) {
        std::string top = path.substr(0, path.find('/'));
        if ((top == "flash" || top == "ram" || top == "rw") && path != "flash/postlog" &&
            path != "flash/var/pdb/.temporaries")
            outcome.first[path] = {content, permissionsOf(root.path(path))};
    }
    return outcome;
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

// A run, with the interruption library preloaded when there is one: ended at its limit-th
// change (status 99, or sent signal there) or, with limit 0, counting them. "--commit" is
// started inside the root.
struct Run {
    std::vector<std::string> args;
    std::string input = "";
    std::vector<std::string> env = {};

    RunResult perform(const DeviceRoot& root, int limit, int signal = 0) const {
        bool inside = args == std::vector<std::string>{"--commit"};
        std::vector<std::string> all = env;
        if (!InterruptLibrary.empty()) {
            all.push_back("LD_PRELOAD=" + (inside ? PreloadInside : InterruptLibrary));
            all.push_back("INTERRUPT_AFTER_CALLS=" + std::to_string(limit));
            all.push_back("INTERRUPT_SIGNAL=" + std::to_string(signal));
        }
        return inside ? root.runInside(args, input, all) : root.runOnRoot(args, input, all);
    }
};

int callsOf(const RunResult& result) {
    size_t at = result.err.rfind("mutating calls: ");
    return at == std::string::npos ? -1 : atoi(result.err.c_str() + at + 16);
}

std::multiset<std::string> sortedLines(const std::string& text) {
    std::vector<std::string> lines = messageLines(text);
    return {lines.begin(), lines.end()};
}

// Runs run whole and checks it; then cuts it at each of its changes: the next start leaves
// the device as before the run (only while no journal is on flash) or as the whole run does.
// For the first, a middle and the last cut with a journal, cuts the finishing start too.
void expectEveryCutFinished(const DeviceRoot& root, const Run& run,
                            const std::function<void(const RunResult&)>& check) {
    DeviceRoot store;
    if (!InterruptLibrary.empty()) {
        root.makeDir(".test-bin");
        fs::copy_file(InterruptLibrary, root.path(PreloadInside), fs::copy_options::skip_existing);
    }
    copyDevice(root.root(), store.path("before"));
    Outcome before = nextStart(root);
    // The post-install log is the old one or the whole new one (whose lines come in the
    // order the download folder lists the files, which a copy of the device may change).
    std::string oldLog = root.readFile("flash/postlog");
    RunResult whole = run.perform(root, 0);
    ASSERT_EQ(whole.status, 0) << whole.out << whole.err;
    std::string newLog = root.readFile("flash/postlog");
    Outcome after = nextStart(root);
    ASSERT_FALSE(after == before);
    check(whole);
    REQUIRE_INTERRUPT_LIBRARY();
    int calls = callsOf(whole);
    ASSERT_GT(calls, 0) << whole.err;

    // Every change is cut at; every third also meets SIGTERM there (the run's own cleanup,
    // or the journal when the commit has begun).
    std::vector<int> journaled;
    for (int signal : {0, SIGTERM})
        for (int call = 1; call <= calls && !::testing::Test::HasFailure();
             call += signal ? 3 : 1) {
            copyDevice(store.path("before"), root.root());
            RunResult cut = run.perform(root, call, signal);
            ASSERT_EQ(cut.status, signal ? 128 + signal : 99) << "call " << call << ": " << cut.err;
            bool journal = root.exists("flash/var/pdb/.journal");
            if (journal && !signal)
                journaled.push_back(call);
            std::string log = root.readFile("flash/postlog");
            EXPECT_TRUE(log == oldLog || sortedLines(log) == sortedLines(newLog))
                << "cut at call " << call << ": " << log;
            Outcome outcome = nextStart(root);
            EXPECT_TRUE(outcome == after || (!journal && outcome == before))
                << "cut at call " << call << " of " << calls << (signal ? " by a signal" : "")
                << ": " << outcome.second;
        }
    ASSERT_FALSE(journaled.empty());
    for (int call : {journaled.front(), journaled[journaled.size() / 2], journaled.back()}) {
        copyDevice(store.path("before"), root.root());
        run.perform(root, call);
        copyDevice(root.root(), store.path("cut"));
        const Run show = {{"--show"}};
        int finishing = callsOf(show.perform(root, 0));
        ASSERT_GT(finishing, 0);
        for (int second = 1; second <= finishing && !::testing::Test::HasFailure(); ++second) {
            copyDevice(store.path("cut"), root.root());
            ASSERT_EQ(show.perform(root, second).status, 99);
            EXPECT_TRUE(nextStart(root) == after)
                << "cut at call " << call << ", then at call " << second << " of the finishing";
        }
    }
    printf("%d cuts, %zu with a journal\n", calls, journaled.size());
}

// A bundle "suite" kept as its stored image, with members of its own.
std::string suite(Version version,
                  const std::vector<std::pair<const char*, const char*>>& members) {
    std::vector<std::string> files;
    for (const auto& [name, content] : members)
        files.push_back(
            packageFile(spec(name, version, {{std::string("bin/") + name, content, 0100755}})));
    return signedBundle(Package("suite", version, 1700000000), files, {}, "suite image");
}
// Installed: webtool, dns and legacy (meta files), system (its stored image the boot image),
// the bundle suite of a and b, a post-install log whose last line was cut short. Downloaded:
// suite of a and c, webtool (files replaced, added, dropped, one empty, names with a blank
// and a backslash), dns (one file unchanged), system (a boot image of several blocks), vpn
// keeping its image, and a non-package file; f waits unsearched in /flash/rw/pckg/; legacy
// is to be uninstalled. body runs with /ram and /rw file systems of their own (files cross
// into /flash by copy), given the offered files.
bool withUpgradeOffered(
    const DeviceRoot& root,
    const std::function<void(const std::map<std::string, std::string>&)>& body) {
    const std::pair<const char*, std::vector<const char*>> installed[] = {
        {"webtool", {"bin/webtool", "etc/webtool.conf", "share/webtool/old-doc"}},
        {"dns", {"bin/dns", "lib/libdns.so"}},
        {"legacy", {"bin/legacy", "share/legacy/data"}},
    };
    EXPECT_EQ(installFromStdin(root, suite(Old, {{"a", "old a"}, {"b", "old b"}})).status, 0);
    const std::string db = "flash/var/pdb/";
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
    root.writeFile("flash/bootimage", packageFile(spec("system", Old, {}, FlagBootImage, "old")));
    root.makeDir(db + "system");
    EXPECT_EQ(symlink("/flash/bootimage", root.path(db + "system/image").c_str()), 0);
    root.writeFile("flash/postlog", "one\ntwo\ncut short");
    root.writeFile("flash/rw/pckg/f.npk", simplePackage("f"));
    return runWithMounts(root.root(), {{"ram", "size=4m"}, {"rw", "size=4m"}}, [&] {
        std::string kernel;
        for (int i = 0; kernel.size() < 40000; ++i)
            kernel += "kernel block " + std::to_string(i) + "\n";
        const std::map<std::string, std::string> offered = {
            {"webtool", packageFile(spec("webtool", Next,
                                         {{"bin/webtool", "new webtool", 0100755},
                                          {"etc/webtool.conf", "new conf"},
                                          {"share/webtool/new-doc", "new doc"},
                                          {"etc/webtool.d/empty", ""},
                                          {"share/webtool/Unix Makefiles.rst", "blank"},
                                          {"share/webtool/back\\slash", "backslash"}}))},
            {"dns", packageFile(spec("dns", Next,
                                     {{"bin/dns", "new dns", 0100755},
                                      {"lib/libdns.so", "old lib/libdns.so"}}))},
            {"vpn", packageFile(spec("vpn", Next, {{"bin/vpn", "vpn", 0100755}}, 0, "vpn image"))},
            {"suite", suite(Next, {{"a", "new a"}, {"c", "new c"}})},
            {"system",
             packageFile(spec("system", Next, {{"boot/kernel", "new"}}, FlagBootImage, kernel))},
        };
        for (const auto& [name, file] : offered)
            root.writeFile("rw/pckg/.download/" + name + ".npk", file);
        root.writeFile("rw/pckg/.download/notes.txt", simplePackage("notes"));
        root.writeFile("ram/pdb/legacy/schedule", "uninstall\n");
        body(offered);
    });
}

// What the upgrade leaves, whether run at once or saved and committed later.
void expectUpgraded(const DeviceRoot& root, const std::map<std::string, std::string>& offered) {
    EXPECT_EQ(databaseNames(root),
              (std::vector<std::string>{"a", "c", "dns", "suite", "system", "vpn", "webtool"}));
    EXPECT_EQ(root.readFile("flash/bin/a"), "new a");
    EXPECT_EQ(root.readFile("flash/bin/webtool"), "new webtool");
    EXPECT_EQ(root.readFile("flash/lib/libdns.so"), "old lib/libdns.so");
    EXPECT_TRUE(root.exists("flash/etc/webtool.d/empty"));
    EXPECT_EQ(root.readFile("flash/share/webtool/Unix Makefiles.rst"), "blank");
    EXPECT_EQ(root.readFile("flash/share/webtool/back\\slash"), "backslash");
    for (const char* gone :
         {"flash/share/webtool/old-doc", "flash/bin/legacy", "flash/bin/f", "flash/bin/b"})
        EXPECT_FALSE(root.exists(gone)) << gone;
    EXPECT_EQ(root.readFile("flash/var/pdb/vpn/image"), offered.at("vpn"));
    EXPECT_EQ(root.readFile("flash/var/pdb/suite/image"), offered.at("suite"));
    EXPECT_EQ(root.readFile("flash/bootimage"), offered.at("system"));
    EXPECT_EQ(root.linkTarget("flash/var/pdb/system/image"), "/flash/bootimage");
}

}  // namespace

// The post-install log keeps the old lines that were whole, before the run's own.
TEST(InterruptedRunTest, UpgradeRun) {
    REQUIRE_DEVELOPMENT_KEYS();
    DeviceRoot root;
    EXPECT_TRUE(withUpgradeOffered(root, [&](const std::map<std::string, std::string>& offered) {
        expectEveryCutFinished(root, {{}, "", {"bootimage="}}, [&](const RunResult&) {
            expectUpgraded(root, offered);
            const std::string log = root.readFile("flash/postlog");
            EXPECT_EQ(log.substr(0, 18), "one\ntwo\ninstalled ");
            EXPECT_EQ(sortedLines(log), (std::multiset<std::string>{
                                            "one", "two", "installed dns-7.16.1",
                                            "installed suite-7.16.1", "installed system-7.16.1",
                                            "installed vpn-7.16.1", "installed webtool-7.16.1"}));
        });
    }));
}

// Saved quietly: nothing changes and nothing is logged until "--commit", which keeps the
// saved manifest; a second "--commit" finds everything done.
TEST(InterruptedRunTest, CommitOfSavedUpgrade) {
    REQUIRE_DEVELOPMENT_KEYS();
    DeviceRoot root;
    EXPECT_TRUE(withUpgradeOffered(root, [&](const std::map<std::string, std::string>& offered) {
        RunResult saved = root.runOnRoot({"-q", "--safe"}, "", {"bootimage="});
        ASSERT_EQ(saved.status, 0) << saved.err;
        EXPECT_EQ(saved.out, "");
        EXPECT_EQ(root.readFile("flash/postlog"), "one\ntwo\n");
        EXPECT_EQ(root.readFile("flash/bin/webtool"), "old bin/webtool");
        const std::string manifest = root.readFile("ram/MANIFEST");
        expectEveryCutFinished(root, {{"--commit"}}, [&](const RunResult& whole) {
            EXPECT_EQ(whole.out, "finishing install... |\b \n");
            expectUpgraded(root, offered);
            EXPECT_EQ(root.readFile("ram/MANIFEST"), manifest);
            Outcome done = nextStart(root);
            EXPECT_EQ(root.runInside({"--commit"}).status, 0);
            EXPECT_EQ(nextStart(root), done);
        });
    }));
}

// The copy of the package read from standard input becomes its stored image; offered again,
// the same file is passed over and its copy dropped. A name as long as a target may be is fine.

TEST(InterruptedRunTest, InstallFromStandardInput) {
    REQUIRE_DEVELOPMENT_KEYS();
    DeviceRoot root;
    const std::vector<FileEntry> old = {
        {"bin/p", "old p", 0100755}, {"etc/p.conf", "old conf"}, {"share/p/old", "old"}};
    ASSERT_EQ(installFromStdin(root, packageFile(spec("p", Old, old))).status, 0);
    std::string longest = "doc";
    while (longest.size() + 256 + 2 <= MaxEntryName)
        longest += "/" + std::string(255, 'x');
    const std::string file = packageFile(
        spec("p", Next, {{"bin/p", "new p", 0100755}, {longest + "/f", "deep"}}, 0, "p image"));
    expectEveryCutFinished(root, {{"-"}, file}, [&](const RunResult&) {
        EXPECT_EQ(root.readFile("flash/bin/p"), "new p");
        EXPECT_EQ(root.readFile("flash/" + longest + "/f"), "deep");
        EXPECT_FALSE(root.exists("flash/etc/p.conf"));
        for (int time = 0; time < 2; ++time) {
            EXPECT_EQ(root.readFile("flash/var/pdb/p/image"), file);
            EXPECT_FALSE(root.exists("flash/var/pdb/image"));
            EXPECT_EQ(installFromStdin(root, file).status, 0);
        }
    });
}

// Cleanup keeps system (installed from standard input as the boot image), quendle and
// disk-drivers, bundles and what needs a system newer than 3.22. Links to folders
// elsewhere in /flash are followed, and the post-install log is written where its link
// points; folders that an old files list names stay with the files of others in them.
TEST(InterruptedRunTest, Cleanup) {
    REQUIRE_DEVELOPMENT_KEYS();
    DeviceRoot root;
    root.makeDir("flash/usr/lib");
    root.makeDir("flash/logs");
    ASSERT_EQ(symlink("usr/lib", root.path("flash/lib").c_str()), 0);
    ASSERT_EQ(symlink("/flash/logs/postlog", root.path("flash/postlog").c_str()), 0);
    const Version at322 = 0x03166600, rc4 = 0x03166304;
    auto needing = [](const char* name, Version system) {
        PackageSpec made = spec(name, version7(10), {{std::string("bin/") + name, name}});
        made.deps = {entry("system", system)};
        return packageFile(made);
    };
    const std::string system = packageFile(spec("system", Old, {}, FlagBootImage, "kernel"));
    ASSERT_EQ(installFromStdin(root, system, {}, {"bootimage="}).status, 0);
    EXPECT_EQ(root.readFile("flash/bootimage"), system);
    EXPECT_EQ(root.linkTarget("flash/var/pdb/system/image"), "/flash/bootimage");
    for (const std::string& file :
         {simplePackage("quendle"), simplePackage("disk-drivers"),
          packageFile(spec("plain", version7(10), {{"lib/libx.so", "x"}})), needing("newer", at322),
          needing("rc", rc4),
          signedBundle(Package("bnd", version7(10), 100), {needing("m", at322)}, {}, "IMAGE")})
        ASSERT_EQ(installFromStdin(root, file).status, 0);
    EXPECT_FALSE(root.exists("flash/var/pdb/image"));
    EXPECT_EQ(root.readFile("flash/usr/lib/libx.so"), "x");
    EXPECT_EQ(root.readFile("flash/var/pdb/plain/files"), "lib/libx.so\n");
    EXPECT_EQ(root.readFile("flash/logs/postlog").rfind("installed system-7.16\n", 0), 0u);
    root.writeFile("flash/var/pdb/odd/version", "118121984 100\n");
    root.writeFile("flash/var/pdb/odd/files", "bin\nbin/odd\n.\n./bin\nbin/.\n");
    root.writeFile("flash/bin/odd", "odd");
    expectEveryCutFinished(root, {{"--cleanup"}}, [&](const RunResult&) {
        EXPECT_EQ(databaseNames(root), (std::vector<std::string>{"bnd", "disk-drivers", "m",
                                                                 "newer", "quendle", "system"}));
        EXPECT_FALSE(root.exists("flash/usr/lib/libx.so"));
        EXPECT_EQ(root.linkTarget("flash/lib"), "usr/lib");
        EXPECT_FALSE(root.exists("flash/bin/odd"));
        EXPECT_EQ(root.readFile("flash/bin/quendle"), "quendle");
    });
}
