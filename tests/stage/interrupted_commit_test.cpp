// Tests of a commit cut short: a saved upgrade is committed by "--commit" and the process
// is ended after its N-th change of the file system, for every N the commit makes. The
// installed files must never be torn or missing, and committing again must finish the
// job exactly as an uninterrupted commit does.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <tuple>

#include "support/packages.h"

#ifndef INTERRUPT_LIBRARY
#define INTERRUPT_LIBRARY ""
#endif

namespace {

namespace fs = std::filesystem;

constexpr int InterruptedStatus = 99;  // the exit status the preloaded library ends with
const char PreloadInside[] = "/.test-bin/libinterrupt_after.so";

// What a path holds: kind ('f', 'l', 'd'), permission bits, content or link target.
using Entry = std::tuple<char, unsigned, std::string>;
using Tree = std::map<std::string, Entry>;

Tree deviceTree(const DeviceRoot& root) {
    Tree tree;
    for (const char* top : {"flash", "rw"}) {
        for (const auto& item : fs::recursive_directory_iterator(root.path(top))) {
            std::string path = item.path().string().substr(root.root().size() + 1);
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

// A file that a copy across file systems leaves beside its target while it is written.
bool isPartialCopy(const std::string& path) {
    std::string name = path.substr(path.rfind('/') + 1);
    return name.size() > 9 && name[0] == '.' && name.compare(name.size() - 8, 8, ".partial") == 0;
}

// Every file holds a whole version, the old or the new one; none that both have is missing.
void expectWholeFiles(const Tree& before, const Tree& after, const Tree& cut, int call) {
    for (const auto& [path, entry] : cut) {
        if (std::get<0>(entry) == 'd' || isPartialCopy(path))
            continue;
        auto old = before.find(path), fresh = after.find(path);
        EXPECT_TRUE((old != before.end() && old->second == entry) ||
                    (fresh != after.end() && fresh->second == entry))
            << "interrupted at call " << call << ": " << path << " holds \"" << std::get<2>(entry)
            << "\" (mode " << std::oct << std::get<1>(entry) << ")";
    }
    for (const auto& [path, entry] : before)
        EXPECT_TRUE(std::get<0>(entry) == 'd' || after.count(path) == 0 || cut.count(path) == 1)
            << "interrupted at call " << call << ": " << path << " is missing";
}

std::string package(const char* name, Version version, uint32_t flags,
                    const std::vector<FileEntry>& files, const std::string& image = "") {
    PackageSpec made = spec(name, version, files, flags);
    made.image = image;
    return packageFile(made);
}

// Installed: webtool, dns and legacy described by meta files, and the system package
// whose stored file is the boot image.
void installOldSystem(const DeviceRoot& root) {
    const std::string db = "flash/var/pdb/";
    const std::pair<const char*, std::vector<const char*>> installed[] = {
        {"webtool", {"bin/webtool", "etc/webtool.conf", "share/webtool/old-doc"}},
        {"dns", {"bin/dns", "lib/libdns.so"}},
        {"legacy", {"bin/legacy", "share/legacy/data"}},
    };
    for (const auto& [name, files] : installed) {
        root.writeFile(db + name + "/version", "118449664 1600000000\n");
        root.writeFile(db + name + "/deps", "");
        std::string list;
        for (const char* file : files) {
            list += std::string(file) + "\n";
            bool program = std::string(file).rfind("bin/", 0) == 0;
            root.writeFile(std::string("flash/") + file, std::string("old ") + file,
                           program ? 0755 : 0644);
        }
        root.writeFile(db + name + "/files", list);
    }
    root.writeFile("flash/bootimage", package("system", 0x07106600, FlagBootImage, {}, "old"));
    root.makeDir(db + "system");
    ASSERT_EQ(symlink("/flash/bootimage", root.path(db + "system/image").c_str()), 0);
}

// Waiting in the download directory: webtool (files replaced, added, dropped, one
// empty), dns (one file unchanged), system (a boot image of several copy blocks) and
// vpn, new, keeping its image. legacy is scheduled for uninstalling.
void offerUpgrade(const DeviceRoot& root) {
    const std::string download = "rw/pckg/.download/";
    const Version next = 0x07106601;
    root.writeFile(download + "webtool.npk", package("webtool", next, 0,
                                                     {{"bin/webtool", "new webtool", 0100755},
                                                      {"etc/webtool.conf", "new conf"},
                                                      {"share/webtool/new-doc", "new doc"},
                                                      {"etc/webtool.d/empty", ""}}));
    root.writeFile(download + "dns.npk", package("dns", next, 0,
                                                 {{"bin/dns", "new dns", 0100755},
                                                  {"lib/libdns.so", "old lib/libdns.so"}}));
    root.writeFile(download + "vpn.npk",
                   package("vpn", next, 0, {{"bin/vpn", "vpn", 0100755}}, "vpn image"));
    std::string kernel;
    for (int i = 0; kernel.size() < 40000; ++i)
        kernel += "kernel block " + std::to_string(i) + "\n";
    root.writeFile(download + "system.npk",
                   package("system", next, FlagBootImage, {{"boot/kernel", "new"}}, kernel));
    root.writeFile("ram/pdb/legacy/schedule", "uninstall\n");
}

}  // namespace

TEST(InterruptedCommitTest, EveryInterruptionLeavesWholeFilesAndCommittingAgainFinishes) {
    if (std::string(INTERRUPT_LIBRARY).empty())
        GTEST_SKIP() << "the interruption library is preloaded only into a native, "
                        "dynamically linked build without sanitizers";
    REQUIRE_DEVELOPMENT_KEYS();
    DeviceRoot root, store;
    installOldSystem(root);
    root.makeDir(".test-bin");
    fs::copy_file(INTERRUPT_LIBRARY, root.path(PreloadInside));
    // "--commit" with the library preloaded; it ends the process at call limit (0: never).
    auto commitUpTo = [&](int limit) {
        return root.runInside({"--commit"}, "",
                              {std::string("LD_PRELOAD=") + PreloadInside,
                               "INTERRUPT_AFTER_CALLS=" + std::to_string(limit)});
    };
    // /ram and /rw are file systems of their own, so that files cross into /flash by copy.
    bool held = runWithMounts(root.root(), {{"ram", "size=4m"}, {"rw", "size=4m"}}, [&] {
        offerUpgrade(root);
        RunResult saved = root.runOnRoot({"--safe"}, "", {"bootimage="});
        ASSERT_EQ(saved.status, 0) << saved.out << saved.err;
        ASSERT_TRUE(root.exists("ram/MANIFEST")) << saved.out;
        copyDevice(root.root(), store.path("saved"));
        Tree before = deviceTree(root);

        RunResult whole = commitUpTo(0);
        ASSERT_EQ(whole.status, 0) << whole.err;
        int calls = 0;
        size_t count = whole.err.rfind("mutating calls:");
        ASSERT_NE(count, std::string::npos) << whole.err;
        ASSERT_EQ(sscanf(whole.err.c_str() + count, "mutating calls: %d", &calls), 1);
        Tree after = deviceTree(root);
        ASSERT_EQ(root.readFile("flash/bin/webtool"), "new webtool");
        ASSERT_FALSE(root.exists("flash/share/webtool/old-doc"));
        ASSERT_EQ(root.readFile("flash/bootimage"), root.readFile("rw/pckg/.download/system.npk"));
        ASSERT_GT(calls, 20);

        int halfway = 0;  // interruptions that left neither the old nor the new tree
        for (int call = 1; call <= calls && !HasFailure(); ++call) {
            copyDevice(store.path("saved"), root.root());
            RunResult cut = commitUpTo(call);
            ASSERT_EQ(cut.status, InterruptedStatus) << "call " << call << ": " << cut.err;
            Tree interrupted = deviceTree(root);
            expectWholeFiles(before, after, interrupted, call);
            halfway += interrupted != before && interrupted != after;
            RunResult again = root.runInside({"--commit"});
            ASSERT_EQ(again.status, 0) << again.err;
            EXPECT_TRUE(deviceTree(root) == after) << "committed again after call " << call;
        }
        EXPECT_GT(halfway, calls / 2) << "the commit was hardly ever cut short";
        printf("checked %d interruption points\n", calls);
    });
    EXPECT_TRUE(held);
}
