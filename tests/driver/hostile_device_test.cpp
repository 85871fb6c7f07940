// Links planted in /flash that lead out of it: installs, upgrades and uninstalls change
// nothing outside /flash.
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/packages.h"

namespace {

const std::string Pdb = "flash/var/pdb/";

// Everything of the device root but /flash and what the tests write: /ram and /rw.
std::map<std::string, std::string> outsideFlash(const DeviceRoot& root) {
    std::map<std::string, std::string> outside;
    for (const auto& [path, content] : root.snapshot())
        if (path.rfind("flash/", 0) != 0 && path.rfind("ram/", 0) != 0 && path.rfind("rw/", 0) != 0)
            outside[path] = content;
    return outside;
}

std::string tool(Version version) {
    return packageFile(
        spec("tool", version, {{"bin/tool", "tool " + versionText(version)}}, 0, "tool image"));
}

}  // namespace

// Each link points at /outside, a folder of files beside /flash. The runs: tool installed
// from standard input, upgraded from the download folder, then uninstalled.
TEST(HostileDeviceTest, LinksOutOfFlashLeadNowhere) {
    REQUIRE_DEVELOPMENT_KEYS();
    const std::string escapes = " lies behind a link that leads out of /flash";
    const std::string refused = "ERROR: installation of tool-7.10 failed: ";
    // planted link | its target | status and last message of the install
    const std::tuple<const char*, const char*, int, std::string> cases[] = {
        {"flash/postlog", "/outside/passwd", 0,
         "ERROR: could not write /flash/postlog: it is a link that leads out of /flash"},
        {"flash/var/pdb/image", "/outside/shadow", 0, "installed tool-7.10"},
        {"flash/bootimage", "/outside/boot", 0, "installed tool-7.10"},
        {"flash/bin", "/outside", 1, refused + "bin/tool" + escapes},
        {"flash/var/pdb/tool", "/outside", 1,
         refused + "could not create /flash/var/pdb/tool/: Not a directory"},
        {"flash/var", "../outside", 255, "ERROR: could not open image"},
    };
    for (const auto& [link, target, status, message] : cases) {
        SCOPED_TRACE(link);
        DeviceRoot root;
        ASSERT_EQ(installFromStdin(root, simplePackage("system")).status, 0);
        for (const char* file : {"passwd", "shadow", "boot", "tool"})
            root.writeFile(std::string("outside/") + file, "precious");
        root.writeFile("outside/pdb/tool/version", "1 2\n");
        rename(root.path(link).c_str(), root.path(std::string(link) + ".old").c_str());
        ASSERT_EQ(symlink(target, root.path(link).c_str()), 0);
        auto outside = outsideFlash(root);
        RunResult install = installFromStdin(root, tool(version7(10)), {}, {"bootimage="});
        EXPECT_EQ(outsideFlash(root), outside);
        EXPECT_EQ(install.status, status);
        EXPECT_EQ(lastMessage(install), message);
        if (status != 0) {
            // Nothing behind the link is read as a package either.
            EXPECT_EQ(root.runOnRoot({"--show"}).out.find("            tool "), std::string::npos);
            continue;
        }
        root.writeFile("rw/pckg/.download/tool.npk", tool(version7(11)));
        EXPECT_EQ(root.runOnRoot({}, "", {"bootimage="}).status, 0);
        root.writeFile("ram/pdb/tool/schedule", "uninstall\n");
        EXPECT_EQ(root.runOnRoot({}, "", {"bootimage="}).status, 0);
        EXPECT_FALSE(root.exists("flash/bin/tool"));
        EXPECT_EQ(outsideFlash(root), outside);
    }
}
