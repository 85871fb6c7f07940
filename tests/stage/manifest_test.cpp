// Tests of the manifest: staging, temporary file placement and ownership, text form.
#include "stage/manifest.h"

#include "stage/file_util.h"

#include <unistd.h>

#include <functional>

#include <gtest/gtest.h>

#include "support/device_root.h"
#include "support/files.h"

namespace {

// "U /a|M /b /src|N /c" (N for NewFile, whose temporary name is left out).
std::string describe(const Manifest& manifest) {
    std::string text;
    for (const auto& [path, entry] : manifest.all()) {
        text += (text.empty() ? "" : "|") + std::string(1, "MN?LU"[int(entry.kind)]) + " " + path;
        if (!entry.argument.empty() && entry.kind != EntryKind::NewFile)
            text += " " + entry.argument;
    }
    return text;
}

}  // namespace

TEST(ManifestTest, RestagingATargetDeletesItsTemporaryFile) {
    const std::pair<const char*, std::function<void(Manifest&)>> cases[] = {
        {"N /flash/x", [](Manifest& m) { m.createFile("/flash/x", 0, 0); }},
        {"M /flash/x /ram/src", [](Manifest& m) { m.stageMove("/ram/src", "/flash/x"); }},
        {"U /flash/x", [](Manifest& m) { m.stageRemove("/flash/x"); }},  // exists
        {"", [](Manifest& m) { m.stageRemove("/flash/x"); }},            // missing
    };
    for (const auto& [expected, act] : cases) {
        DeviceRoot root;
        root.writeFile("ram/src", "source");
        if (std::string(expected) == "U /flash/x")
            root.writeFile("flash/x", "old");
        EXPECT_TRUE(runInRoot(root.root(), [&] {
            Manifest manifest;
            manifest.createFile("/flash/x", 0, 0) << "first";
            std::string first = manifest.find("/flash/x")->fullArgument("/flash/x");
            act(manifest);
            manifest.stageRemove("/flash/missing");
            EXPECT_FALSE(pathPresent(first));
            EXPECT_EQ(describe(manifest), expected);
            const ManifestEntry* entry = manifest.find("/flash/x");
            std::string second = entry ? entry->fullArgument("/flash/x") : "";
            manifest.discard();
            EXPECT_TRUE(manifest.empty());
            EXPECT_FALSE(pathPresent(second) && second.find("/.installer-") != std::string::npos);
            EXPECT_TRUE(pathPresent("/ram/src"));  // a move's source is not the manifest's
        })) << expected;
    }
}

TEST(ManifestTest, SaveWritesTextFormAndLoadReadsNewFilesBackAsMoves) {
    DeviceRoot root;
    root.writeFile("flash/lib/old.so", "old");
    EXPECT_TRUE(runInRootWithMounts(root.root(), {{"ram", "size=16k"}}, [] {
        Manifest manifest;
        manifest.createFile("/flash/bin/x", 0, 0) << "new";
        std::string temporary = manifest.find("/flash/bin/x")->fullArgument("/flash/bin/x");
        manifest.stageRemove("/flash/lib/old.so");
        manifest.stageLink("/flash/bootimage", "/flash/var/pdb/system/image");
        ASSERT_TRUE(manifest.save("/ram/MANIFEST"));
        std::string expected = "M /flash/bin/x " + temporary + "\nU /flash/lib/old.so\n" +
                               "L /flash/var/pdb/system/image /flash/bootimage\n";
        EXPECT_EQ(fileText("/ram/MANIFEST"), expected);
        Manifest loaded;
        EXPECT_TRUE(loaded.load("/ram/MANIFEST").loaded());
        EXPECT_EQ(loaded.find("/flash/bin/x")->kind, EntryKind::Move);
        loaded.save("/ram/again");
        EXPECT_EQ(fileText("/ram/again"), expected);
        fillFileSystem("/ram");  // a save cut short leaves the old file whole
        for (int i = 0; i < 2000; ++i)
            loaded.stageMove("/flash/source", "/flash/target" + std::to_string(i));
        EXPECT_FALSE(loaded.save("/ram/MANIFEST"));
        EXPECT_EQ(fileText("/ram/MANIFEST"), expected);
    }));
}

// Only what the installer could have written is loaded; anything else refuses the file.
TEST(ManifestTest, LoadResults) {
    // A line longer than two paths can be is refused without being held whole.
    const std::string longLine = "U /flash/a\nU /flash/" + std::string(200000, 'x') + "\n";
    // content (null: no file) | status | number of the refused line | entries
    const std::tuple<const char*, LoadResult::Status, size_t, const char*> cases[] = {
        {nullptr, LoadResult::Missing, 0, ""},
        {"", LoadResult::Loaded, 0, ""},
        {"\nU /flash/a\n", LoadResult::Loaded, 0, ""},
        {"X /a /b\nU /flash//c /ignored\nM /flash/d /flash/.installer-e\n", LoadResult::Loaded, 0,
         "U /flash//c|M /flash/d /flash/.installer-e"},
        {"U /flash/a\nM /flash/a /ram/b", LoadResult::Loaded, 0, "M /flash/a /ram/b"},
        {"L /flash/x /etc/anywhere\nM /flash/y /rw/pckg/.download/y.npk\nM /flash/z /tmp/z\n",
         LoadResult::Loaded, 0,
         "L /flash/x /etc/anywhere|M /flash/y /rw/pckg/.download/y.npk|M /flash/z /tmp/z"},
        {"M /flash/a\\040b /flash/c\\134d\n", LoadResult::Loaded, 0, "M /flash/a b /flash/c\\d"},
        {"U /flash/a\nM /flash/b\nU /flash/c\n", LoadResult::Refused, 2, ""},
        {"U\n", LoadResult::Refused, 1, ""},
        {"U /flash/a\nU /etc/passwd\n", LoadResult::Refused, 2, ""},
        {"U /flash/../etc\n", LoadResult::Refused, 1, ""},
        {"U /flash/./bin\n", LoadResult::Refused, 1, ""},
        {"U /flashy\n", LoadResult::Refused, 1, ""},
        {"M /flash/x /etc/shadow\n", LoadResult::Refused, 1, ""},
        {"M /flash/x /ram/../etc/shadow\n", LoadResult::Refused, 1, ""},
        {"L /etc/x /flash/y\n", LoadResult::Refused, 1, ""},
        {longLine.c_str(), LoadResult::Refused, 2, ""},
    };
    for (const auto& [content, status, line, entries] : cases) {
        DeviceRoot root;
        if (content)
            root.writeFile("ram/MANIFEST", content);
        EXPECT_TRUE(runInRoot(root.root(), [&] {
            Manifest manifest;
            LoadResult result = manifest.load("/ram/MANIFEST");
            EXPECT_EQ(result.status, status) << content;
            EXPECT_EQ(result.line, line) << content;
            EXPECT_EQ(describe(manifest), entries) << content;
        }));
    }
}

TEST(ManifestTest, CreateFilePlacesTemporaryFileWhereThereIsRoom) {
    // size of a tmpfs /flash (null: none), target, size hint, whether /ram is removed,
    // directory of the temporary file (null: no file can be made)
    const std::tuple<const char*, const char*, uint32_t, bool, const char*> cases[] = {
        {"64k", "/flash/x", 0, false, "/flash/"},
        {"4k", "/flash/PCKGS_CHANGED", 1, false, "/flash/"},
        {"4k", "/flash/x", 3800, false, "/ram/"},  // 3800 plus a tenth exceeds the free block
        {"4k", "/flash/x", 3800, true, "/tmp/"},
        {nullptr, "/flash/var/pdb/new/version", 32, false, "/flash/var/pdb/"},
        {"8g", "/flash/x", 1000, false, "/flash/"},  // more than 4 GiB free
        {nullptr, "/etc/x", 1, false, nullptr},
    };
    for (const auto& [flashSize, target, sizeHint, removeRam, directory] : cases) {
        DeviceRoot root;
        std::vector<TestMount> mounts;
        if (flashSize)
            mounts.push_back({"flash", std::string("size=") + flashSize});
        EXPECT_TRUE(runInRootWithMounts(root.root(), mounts, [&] {
            if (removeRam)
                rmdir("/ram");
            Manifest manifest;
            FdOutStream out = manifest.createFile(target, sizeHint, 0100750);
            const ManifestEntry* entry = manifest.find(target);
            ASSERT_EQ(out.is_open(), directory != nullptr) << target << sizeHint;
            ASSERT_EQ(entry != nullptr, directory != nullptr);
            if (!entry)
                return;
            const std::string made = entry->fullArgument(target);
            EXPECT_EQ(parentDirectory(made) + "/", directory) << sizeHint;
            EXPECT_EQ(lastName(made).rfind(".installer-", 0), 0u);
            EXPECT_EQ(permissionsOf(made), 0750u);
        }));
    }
}
