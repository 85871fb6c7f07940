// Tests of a commit cut short: a saved upgrade is committed by "--commit" and the process
// is ended after its N-th change of the file system, for every N the commit makes. The
// installed files must never be torn or missing, and committing again must finish the
// job exactly as an uninterrupted commit does.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "pkgwriter/signer.h"
#include "support/device_root.h"

#ifndef INTERRUPT_LIBRARY
#define INTERRUPT_LIBRARY ""
#endif

namespace {

namespace fs = std::filesystem;

constexpr int InterruptedStatus = 99;  // the exit status the preloaded library ends with
const char PreloadInside[] = "/.test-bin/libinterrupt_after.so";
const char* const DevelopmentSigningKey =
    "3a5967559c2af691bbeaa38ca08cfbc282ed1e494848e3a5f78f788a060bde9f";

// What a path of the device holds: its kind, permission bits and content (a link's
// target). Directories are compared only after a finished commit.
struct Entry {
    char kind;  // 'f' file, 'l' link, 'd' directory
    unsigned mode;
    std::string content;
    bool operator==(const Entry& other) const {
        return kind == other.kind && mode == other.mode && content == other.content;
    }
    bool operator!=(const Entry& other) const { return !(*this == other); }
};
using Tree = std::map<std::string, Entry>;

Tree deviceTree(const DeviceRoot& root) {
    Tree tree;
    for (const char* top : {"flash", "rw"}) {
        for (const auto& item : fs::recursive_directory_iterator(root.path(top))) {
            std::string relative = item.path().string().substr(root.root().size() + 1);
            struct stat st;
            lstat(item.path().c_str(), &st);
            if (S_ISLNK(st.st_mode))
                tree[relative] = {'l', 0, root.linkTarget(relative)};
            else if (S_ISDIR(st.st_mode))
                tree[relative] = {'d', unsigned(st.st_mode & 07777), ""};
            else
                tree[relative] = {'f', unsigned(st.st_mode & 07777), root.readFile(relative)};
        }
    }
    return tree;
}

// Empties the device's file systems (the mount points stay) and fills them from store.
void restoreDevice(const DeviceRoot& root, const std::string& store) {
    for (const char* top : {"flash", "ram", "rw"}) {
        for (const auto& item : fs::directory_iterator(root.path(top)))
            fs::remove_all(item.path());
        fs::copy(store + "/" + top, root.path(top),
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }
}

void saveDevice(const DeviceRoot& root, const std::string& store) {
    fs::create_directories(store);
    for (const char* top : {"flash", "ram", "rw"})
        fs::copy(root.path(top), store + "/" + top,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
}

// A file that a copy across file systems leaves beside its target while it is written.
bool isPartialCopy(const std::string& path) {
    std::string name = path.substr(path.rfind('/') + 1);
    return name.size() > 9 && name[0] == '.' && name.compare(name.size() - 8, 8, ".partial") == 0;
}

// Every file holds a whole version, the old or the new one; none that both versions
// have is missing.
void expectWholeFiles(const Tree& before, const Tree& after, const Tree& cut, int call) {
    for (const auto& [path, entry] : cut) {
        if (entry.kind == 'd' || isPartialCopy(path))
            continue;
        auto old = before.find(path);
        auto fresh = after.find(path);
        bool whole = (old != before.end() && old->second == entry) ||
                     (fresh != after.end() && fresh->second == entry);
        EXPECT_TRUE(whole) << "interrupted at call " << call << ": " << path << " holds \""
                           << entry.content << "\" (mode " << std::oct << entry.mode << ")";
    }
    for (const auto& [path, entry] : before) {
        if (entry.kind != 'd' && after.count(path) != 0) {
            EXPECT_EQ(cut.count(path), 1u)
                << "interrupted at call " << call << ": " << path << " is missing";
        }
    }
}

class InterruptedCommitTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::string(INTERRUPT_LIBRARY).empty())
            GTEST_SKIP() << "the interruption library is preloaded only into a native, "
                            "dynamically linked build without sanitizers";
        std::string error;
        ASSERT_TRUE(loadSignerKeys(signer, sourcePath("keys/development-ed25519.seed"),
                                   sourcePath("keys/development-legacy.secret"), error))
            << error;
        if (hexText(signer.ed25519PublicKey(), 32) != DevelopmentSigningKey)
            GTEST_SKIP() << "this build has its own public keys";
    }

    // A signed package file; flags 1 marks the boot image.
    std::string package(const std::string& name, Version version, uint32_t flags,
                        const std::vector<FileEntry>& files, const std::string& image = "") {
        Package record(name, version, 1700000000);
        record.flags = flags;
        std::string file;
        EXPECT_TRUE(buildSignedPackage(file, record, files, image, DigestKind::Sha256,
                                       SignatureKind::Both, signer));
        return file;
    }

    // Installed: webtool, dns and legacy described by meta files, and the system package
    // whose stored file is the boot image.
    void installOldSystem() {
        const std::string db = "flash/var/pdb/";
        const std::string v715 = "118449664 1600000000\n";
        root.writeFile(db + "webtool/version", v715);
        root.writeFile(db + "webtool/deps", "");
        root.writeFile(db + "webtool/files",
                       "bin/webtool\netc/webtool.conf\nshare/webtool/old-doc\n");
        root.writeFile("flash/bin/webtool", "old webtool", 0755);
        root.writeFile("flash/etc/webtool.conf", "old conf");
        root.writeFile("flash/share/webtool/old-doc", "old doc");
        root.writeFile(db + "dns/version", v715);
        root.writeFile(db + "dns/deps", "");
        root.writeFile(db + "dns/files", "bin/dns\nlib/libdns.so\n");
        root.writeFile("flash/bin/dns", "old dns", 0755);
        root.writeFile("flash/lib/libdns.so", "dns library");
        root.writeFile(db + "legacy/version", v715);
        root.writeFile(db + "legacy/deps", "");
        root.writeFile(db + "legacy/files", "bin/legacy\nshare/legacy/data\n");
        root.writeFile("flash/bin/legacy", "legacy", 0755);
        root.writeFile("flash/share/legacy/data", "legacy data");
        root.writeFile("flash/bootimage",
                       package("system", 0x07106600, FlagBootImage, {}, "old kernel"));
        root.makeDir(db + "system");
        ASSERT_EQ(symlink("/flash/bootimage", root.path(db + "system/image").c_str()), 0);
    }

    // Waiting in the download directory, on a file system of its own: upgrades of
    // webtool (files replaced, added, dropped, one empty), dns and system (the boot image,
    // a file of several copy blocks), and vpn, new, kept as its database image. legacy is
    // scheduled for uninstalling.
    void offerUpgrade() {
        const std::string download = "rw/pckg/.download/";
        root.writeFile(download + "webtool.npk", package("webtool", 0x07106601, 0,
                                                         {{"bin/webtool", "new webtool", 0100755},
                                                          {"etc/webtool.conf", "new conf"},
                                                          {"share/webtool/new-doc", "new doc"},
                                                          {"etc/webtool.d/empty", ""}}));
        root.writeFile(download + "dns.npk", package("dns", 0x07106601, 0,
                                                     {{"bin/dns", "new dns", 0100755},
                                                      {"lib/libdns.so", "dns library"}}));
        root.writeFile(download + "vpn.npk",
                       package("vpn", 0x07106601, 0, {{"bin/vpn", "vpn", 0100755}}, "vpn image"));
        std::string kernel;
        for (int i = 0; kernel.size() < 40000; ++i)
            kernel += "kernel block " + std::to_string(i) + "\n";
        root.writeFile(download + "system.npk", package("system", 0x07106601, FlagBootImage,
                                                        {{"boot/kernel", "new kernel"}}, kernel));
        root.writeFile("ram/pdb/legacy/schedule", "uninstall\n");
    }

    // "--commit" with the library preloaded; it ends the process at call limit (0: never).
    RunResult commitUpTo(int limit) {
        return root.runInside({"--commit"}, "",
                              {std::string("LD_PRELOAD=") + PreloadInside,
                               "INTERRUPT_AFTER_CALLS=" + std::to_string(limit)});
    }

    Signer signer;
    DeviceRoot root;
    DeviceRoot store;
};

TEST_F(InterruptedCommitTest, EveryInterruptionLeavesWholeFilesAndCommittingAgainFinishes) {
    installOldSystem();
    root.makeDir(".test-bin");
    fs::copy_file(INTERRUPT_LIBRARY, root.path(PreloadInside));
    // /ram and /rw are file systems of their own, so that files cross into /flash by copy.
    bool held = runWithMounts(root.root(), {{"ram", "size=4m"}, {"rw", "size=4m"}}, [&] {
        offerUpgrade();
        RunResult saved = root.runOnRoot({"--safe"}, "", {"bootimage="});
        ASSERT_EQ(saved.status, 0) << saved.out << saved.err;
        ASSERT_TRUE(root.exists("ram/MANIFEST")) << saved.out;
        saveDevice(root, store.path("saved"));
        Tree before = deviceTree(root);

        RunResult whole = commitUpTo(0);
        ASSERT_EQ(whole.status, 0) << whole.err;
        int calls = 0;
        ASSERT_EQ(sscanf(whole.err.substr(whole.err.rfind("mutating calls:")).c_str(),
                         "mutating calls: %d", &calls),
                  1)
            << whole.err;
        Tree after = deviceTree(root);
        ASSERT_EQ(root.readFile("flash/bin/webtool"), "new webtool");
        ASSERT_FALSE(root.exists("flash/share/webtool/old-doc"));
        ASSERT_FALSE(root.exists("flash/var/pdb/legacy"));
        ASSERT_EQ(root.readFile("flash/bootimage"), root.readFile("rw/pckg/.download/system.npk"));
        ASSERT_EQ(root.readFile("flash/var/pdb/vpn/image"),
                  root.readFile("rw/pckg/.download/vpn.npk"));
        ASSERT_TRUE(root.exists("flash/etc/webtool.d/empty"));
        ASSERT_GT(calls, 20);

        int halfway = 0;  // interruptions that left neither the old nor the new tree
        for (int call = 1; call <= calls; ++call) {
            restoreDevice(root, store.path("saved"));
            RunResult cut = commitUpTo(call);
            ASSERT_EQ(cut.status, InterruptedStatus) << "call " << call << ": " << cut.err;
            Tree interrupted = deviceTree(root);
            expectWholeFiles(before, after, interrupted, call);
            halfway += interrupted != before && interrupted != after;
            RunResult again = root.runInside({"--commit"});
            ASSERT_EQ(again.status, 0) << again.err;
            Tree finished = deviceTree(root);
            for (const auto& [path, entry] : after) {
                auto found = finished.find(path);
                EXPECT_TRUE(found != finished.end() && found->second == entry)
                    << "committed again after call " << call << ": " << path << " differs";
            }
            for (const auto& [path, entry] : finished)
                EXPECT_EQ(after.count(path), 1u)
                    << "committed again after call " << call << ": " << path << " is left over";
            if (HasFailure())
                return;
        }
        EXPECT_GT(halfway, calls / 2) << "the commit was hardly ever cut short";
        printf("checked %d interruption points\n", calls);
    });
    EXPECT_TRUE(held);
}

}  // namespace
