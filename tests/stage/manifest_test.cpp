// Tests of the manifest: staging, temporary file placement and ownership, text form.
#include "stage/manifest.h"

#include <unistd.h>

#include <functional>

#include <gtest/gtest.h>

#include "support/device_root.h"
#include "support/files.h"

namespace {

// "U /a|M /b /src|N /c /tmp..." with N for NewFile, for comparing whole manifests.
std::string describe(const Manifest& manifest, bool withNewFileArguments = true) {
    std::string text;
    for (const auto& [path, entry] : manifest.all()) {
        const char* tag[] = {"M", "N", "?", "L", "U"};
        text += (text.empty() ? "" : "|") + std::string(tag[int(entry.kind)]) + " " + path;
        if (!entry.argument.empty() && (entry.kind != EntryKind::NewFile || withNewFileArguments))
            text += " " + entry.argument;
    }
    return text;
}

}  // namespace

TEST(ManifestTest, RestagingATargetDeletesItsTemporaryFile) {
    struct Case {
        const char* name;
        bool targetExists;
        std::function<void(Manifest&)> act;
        std::string expected;
    };
    const Case cases[] = {
        {"second createFile", false, [](Manifest& m) { m.createFile("/flash/x", 0, 0); },
         "N /flash/x"},
        {"stageMove", false, [](Manifest& m) { m.stageMove("/ram/src", "/flash/x"); },
         "M /flash/x /ram/src"},
        {"stageLink", false, [](Manifest& m) { m.stageLink("/flash/y", "/flash/x"); },
         "L /flash/x /flash/y"},
        {"stageRemove of existing", true, [](Manifest& m) { m.stageRemove("/flash/x"); },
         "U /flash/x"},
        {"stageRemove of missing", false, [](Manifest& m) { m.stageRemove("/flash/x"); }, ""},
    };
    for (const Case& c : cases) {
        DeviceRoot root;
        if (c.targetExists)
            root.writeFile("flash/x", "old");
        EXPECT_TRUE(runInRoot(root.root(), [&] {
            Manifest manifest;
            manifest.createFile("/flash/x", 0, 0) << "first";
            std::string first = manifest.find("/flash/x")->argument;
            c.act(manifest);
            EXPECT_FALSE(pathPresent(first)) << c.name;
            EXPECT_EQ(describe(manifest, false), c.expected) << c.name;
            const ManifestEntry* entry = manifest.find("/flash/x");
            if (entry && entry->kind == EntryKind::NewFile) {
                EXPECT_TRUE(pathPresent(entry->argument)) << c.name;
            }
            manifest.stageRemove("/flash/missing");
            EXPECT_EQ(manifest.find("/flash/missing"), nullptr) << c.name;
        })) << c.name;
    }
}

TEST(ManifestTest, SaveWritesTextFormAndLoadReadsNewFilesBackAsMoves) {
    DeviceRoot root;
    root.writeFile("flash/lib/old.so", "old");
    EXPECT_TRUE(runInRoot(root.root(), [] {
        Manifest manifest;
        manifest.createFile("/flash/bin/x", 0, 0) << "new";
        std::string temporary = manifest.find("/flash/bin/x")->argument;
        manifest.stageRemove("/flash/lib/old.so");
        manifest.stageLink("/flash/bootimage", "/flash/var/pdb/system/image");
        manifest.stageMove("/flash/var/pdb//image", "/flash/bootimage");
        ASSERT_TRUE(manifest.save("/ram/MANIFEST"));
        EXPECT_EQ(fileText("/ram/MANIFEST"),
                  "M /flash/bin/x " + temporary +
                      "\nM /flash/bootimage /flash/var/pdb//image"
                      "\nU /flash/lib/old.so"
                      "\nL /flash/var/pdb/system/image /flash/bootimage\n");
        Manifest loaded;
        EXPECT_TRUE(loaded.load("/ram/MANIFEST"));
        EXPECT_EQ(describe(loaded), "M /flash/bin/x " + temporary +
                                        "|M /flash/bootimage /flash/var/pdb//image"
                                        "|U /flash/lib/old.so"
                                        "|L /flash/var/pdb/system/image /flash/bootimage");
    }));
}

TEST(ManifestTest, SaveThatRunsOutOfRoomLeavesTheOldFileWhole) {
    DeviceRoot root;
    EXPECT_TRUE(runInRootWithMounts(root.root(), {{"ram", "size=8k"}}, [] {
        putFile("/ram/MANIFEST", "U /flash/old\n");
        fillFileSystem("/ram");
        Manifest manifest;
        for (int i = 0; i < 2000; ++i)
            manifest.stageMove("/flash/source" + std::to_string(i), "/flash/t" + std::to_string(i));
        EXPECT_FALSE(manifest.save("/ram/MANIFEST"));
        EXPECT_EQ(fileText("/ram/MANIFEST"), "U /flash/old\n");
    }));
}

TEST(ManifestTest, LoadResults) {
    struct Case {
        const char* content;  // null: no file
        bool result;
        std::string entries;
    };
    const Case cases[] = {
        {nullptr, false, ""},
        {"", true, ""},
        {"\nU /a\n", true, ""},
        {"U /a\nM /b /c\n", true, "U /a|M /b /c"},
        {"U /a\nM /b\nU /c\n", false, "U /a"},
        {"U /a\nL /b\n", false, "U /a"},
        {"U\n", false, ""},
        {"X /a /b\nU /c\n", true, "U /c"},
        {"U /a\nU /a /ignored\nM /a /b\n", true, "M /a /b"},
        {"U /a", true, "U /a"},
    };
    for (const Case& c : cases) {
        DeviceRoot root;
        if (c.content)
            root.writeFile("ram/MANIFEST", c.content);
        EXPECT_TRUE(runInRoot(root.root(), [&] {
            Manifest manifest;
            EXPECT_EQ(manifest.load("/ram/MANIFEST"), c.result) << c.content;
            EXPECT_EQ(describe(manifest), c.entries) << c.content;
        }));
    }
}

TEST(ManifestTest, KeepDirectory) {
    struct Case {
        const char* name;
        const char* staged;  // "U", "M" or none
        bool result;
        bool entryStays;
    };
    const Case cases[] = {
        {"/flash/var/pdb/dir/", "U", true, false},  // existing directory: removal cancelled
        {"/flash/var/pdb/dir/", "M", false, true},
        {"/flash/var/pdb/file", nullptr, false, false},
        {"/flash/var/pdb/file/", nullptr, false, false},  // a plain file where a directory goes
        {"/flash/var/pdb/missing/", "U", true, false},
    };
    for (const Case& c : cases) {
        DeviceRoot root;
        root.makeDir("flash/var/pdb/dir");
        root.writeFile("flash/var/pdb/file", "x");
        EXPECT_TRUE(runInRoot(root.root(), [&] {
            Manifest manifest;
            if (c.staged)
                manifest.setEntry(c.name, c.staged[0] == 'U' ? EntryKind::Unlink : EntryKind::Move,
                                  c.staged[0] == 'U' ? "" : "/ram/src");
            EXPECT_EQ(manifest.keepDirectory(c.name), c.result) << c.name;
            EXPECT_EQ(manifest.find(c.name) != nullptr, c.entryStays) << c.name;
        }));
    }
}

TEST(ManifestTest, CreateFilePlacesTemporaryFileWhereThereIsRoom) {
    struct Case {
        const char* name;
        std::vector<TestMount> mounts;
        const char* target;
        uint32_t sizeHint;
        bool removeRam;
        const char* expectedDirectory;  // null: no file can be made
    };
    const Case cases[] = {
        {"no size hint", {{"flash", "size=64k"}}, "/flash/x", 0, false, "/ram/"},
        {"no size hint, no /ram", {}, "/flash/x", 0, true, "/tmp/"},
        {"marker with one free block",
         {{"flash", "size=4k"}},
         "/flash/PCKGS_CHANGED",
         1,
         false,
         "/flash/"},
        {"size plus a tenth does not fit",
         {{"flash", "size=4k"}},
         "/flash/x",
         3800,
         false,
         "/ram/"},
        {"nearest existing ancestor",
         {},
         "/flash/var/pdb/new/version",
         32,
         false,
         "/flash/var/pdb/"},
        {"more than 4 GiB free", {{"flash", "size=8g"}}, "/flash/x", 1000, false, "/flash/"},
        {"no room and no /ram", {{"flash", "size=4k"}}, "/flash/x", 5000, true, nullptr},
    };
    for (const Case& c : cases) {
        DeviceRoot root;
        EXPECT_TRUE(runInRootWithMounts(root.root(), c.mounts, [&] {
            if (c.removeRam)
                rmdir("/ram");
            Manifest manifest;
            std::ofstream out = manifest.createFile(c.target, c.sizeHint, 0100750);
            const ManifestEntry* entry = manifest.find(c.target);
            if (!c.expectedDirectory) {
                EXPECT_FALSE(out.is_open()) << c.name;
                EXPECT_EQ(entry, nullptr) << c.name;
                return;
            }
            ASSERT_TRUE(out.is_open()) << c.name;
            ASSERT_NE(entry, nullptr) << c.name;
            std::string dir = c.expectedDirectory;
            EXPECT_EQ(entry->argument.substr(0, dir.size() + 3), dir + "tmp") << c.name;
            EXPECT_EQ(entry->argument.size(), dir.size() + 9) << c.name;
            EXPECT_EQ(permissionsOf(entry->argument), 0750u) << c.name;
        })) << c.name;
    }
}

TEST(ManifestTest, DiscardDeletesOnlyOwnTemporaryFiles) {
    DeviceRoot root;
    root.writeFile("ram/source", "kept");
    EXPECT_TRUE(runInRoot(root.root(), [] {
        Manifest manifest;
        manifest.createFile("/flash/a", 0, 0) << "a";
        std::string temporary = manifest.find("/flash/a")->argument;
        manifest.stageMove("/ram/source", "/flash/b");
        manifest.discard();
        EXPECT_TRUE(manifest.empty());
        EXPECT_FALSE(pathPresent(temporary));
        EXPECT_TRUE(pathPresent("/ram/source"));
    }));
}

TEST(ManifestTest, ParentDirectory) {
    const std::pair<const char*, const char*> cases[] = {
        {"/flash/bin/x", "/flash/bin"},
        {"/flash", "/"},
        {"/", "/"},
        {"name", "."},
        {"/flash/var/pdb/p/", "/flash/var/pdb"},
        {"/flash//bin/x", "/flash//bin"},
        {"/flash//x", "/flash"},
        {"a/b", "a"},
    };
    for (const auto& [path, parent] : cases)
        EXPECT_EQ(parentDirectory(path), parent) << path;
}
