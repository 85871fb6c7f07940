// The modes that change the device, end to end: "-" and its image copy, the upgrade run's
// kept images, "--safe" with a later "--commit" or "--cancel", and the exit statuses of
// failed runs.
#include <gtest/gtest.h>
#include <unistd.h>

#include "support/files.h"
#include "support/packages.h"

namespace {

const std::string Pdb = "flash/var/pdb/";
const std::string Download = "rw/pckg/.download/";

}  // namespace

// The copy of "-" at /flash/var/pdb//image, and a file the upgrade run took, end up as the
// stored image of a package that keeps it, or as the boot image, or nowhere.
TEST(ModesTest, KeptImageLandsInTheDatabaseOrAsTheBootImage) {
    REQUIRE_DEVELOPMENT_KEYS();
    PackageSpec kept = spec("k", version7(10), {{"bin/k", "k"}}, FlagBootImage);
    kept.image = "IMAGE";
    const std::string keptFile = packageFile(kept);
    const struct {
        const char* what;
        bool upgrade, keeps, boot;
        bool twice;  // the same file offered again is passed over, its copy whole
    } cases[] = {
        {"-, no image kept", false, false, false, false},
        {"-, image kept", false, true, false, false},
        {"-, image kept, passed over", false, true, false, true},
        {"-, boot image", false, true, true, false},
        {"upgrade run, image kept", true, true, false, false},
        {"upgrade run, boot image", true, true, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DeviceRoot root;
        const std::string file = c.keeps ? keptFile : simplePackage("p");
        std::vector<std::string> env;
        if (c.boot)
            env.push_back("bootimage=1");
        if (c.twice) {
            ASSERT_EQ(installFromStdin(root, file).status, 0);
        }
        if (c.upgrade)
            root.writeFile("flash/rw/pckg/k.npk", file);
        RunResult result =
            c.upgrade ? root.runOnRoot({}, "", env) : installFromStdin(root, file, {}, env);
        EXPECT_EQ(result.status, 0) << result.out;
        EXPECT_FALSE(root.exists(Pdb + "image"));
        EXPECT_FALSE(root.exists("image"));
        EXPECT_FALSE(root.exists("flash/rw/pckg/k.npk"));
        if (c.keeps) {
            EXPECT_EQ(root.readFile(c.boot ? "flash/bootimage" : Pdb + "k/image"), file);
            EXPECT_EQ(root.linkTarget(Pdb + "k/image"), c.boot ? "/flash/bootimage" : "");
        }
    }
}

// A package that keeps its image must not be installed with a copy cut short by a full
// flash: that copy would become its stored image.
TEST(ModesTest, KeptImageCopyCutShortFailsTheInstall) {
    REQUIRE_DEVELOPMENT_KEYS();
    DeviceRoot root;
    PackageSpec kept = spec("k", version7(10), {{"bin/k", "k"}});
    kept.image = std::string(256 * 1024, 'i');
    const std::string file = packageFile(kept);
    EXPECT_TRUE(runWithMounts(root.root(), {{"flash", "size=64k"}}, [&] {
        root.makeDir("flash/var/pdb");
        RunResult result = installFromStdin(root, file);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(lastMessage(result), "ERROR: installation of k-7.10 failed: disk is too small");
        EXPECT_EQ(directoryNames(root.path("flash")), (std::set<std::string>{"postlog", "var"}));
        EXPECT_EQ(directoryNames(root.path("flash/var/pdb")), std::set<std::string>());
        EXPECT_EQ(directoryNames(root.path("ram")), std::set<std::string>());
    }));
}

// "--cancel" deletes the saved manifest and the temporary files it names; until then no
// run takes them for packages. A saved manifest lost with the RAM disk leaves them to the
// next start.
TEST(ModesTest, SafeRunIsCommittedOrCancelledLater) {
    REQUIRE_DEVELOPMENT_KEYS();
    for (const char* then : {"--commit", "--cancel", "lost"}) {
        SCOPED_TRACE(then);
        bool commit = std::string(then) == "--commit";
        DeviceRoot root;
        root.writeFile(Download + "p.npk", simplePackage("p"));
        auto before = deviceState(root);
        ASSERT_EQ(root.runOnRoot({"--safe"}).status, 0);
        EXPECT_FALSE(root.exists("flash/bin/p"));
        EXPECT_NE(root.readFile("ram/MANIFEST").find(" /flash/PCKGS_CHANGED "), std::string::npos);
        EXPECT_EQ(root.runOnRoot({"--show"}).out.find("installer"), std::string::npos);
        RunResult result;
        if (std::string(then) == "lost") {
            unlink(root.path("ram/MANIFEST").c_str());
            result = root.runOnRoot({"--show"});
        } else {
            result = root.runInside({then});
            EXPECT_EQ(result.out, commit ? "finishing install... \b \n" : "");
        }
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(root.exists("flash/bin/p"), commit);
        EXPECT_EQ(root.exists("flash/PCKGS_CHANGED"), commit);
        if (!commit) {
            EXPECT_EQ(deviceState(root), before);
        }
    }
}

TEST(ModesTest, FailedRunsChangeNothingAndSayWhy) {
    REQUIRE_DEVELOPMENT_KEYS();
    const struct {
        const char* what;
        std::string madeDir;  // a directory that makes the run fail
        std::vector<std::string> args;
        int status;
        std::string message;
    } cases[] = {
        {"no room on the boot file system", "", {}, 28, "ERROR: not enough space for upgrade"},
        {"image copy can't be opened", Pdb + "image/", {"-"}, 255, "ERROR: could not open image"},
        {"saved manifest can't be written",
         "ram/MANIFEST/x/",
         {"--safe"},
         1,
         "ERROR: could not save /ram/MANIFEST"},
        {"marker can't be made",
         "flash/PCKGS_CHANGED/",
         {},
         1,
         "ERROR: could not create /flash/PCKGS_CHANGED: Is a directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DeviceRoot root;
        if (c.madeDir.empty())
            rmdir(root.path("flash/boot").c_str());
        else
            root.makeDir(c.madeDir);
        root.writeFile(Download + "p.npk", simplePackage("p"));
        auto before = deviceState(root);
        RunResult result = root.runOnRoot(c.args, simplePackage("p"));
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(lastMessage(result), c.message);
        EXPECT_EQ(deviceState(root), before);
    }
}
