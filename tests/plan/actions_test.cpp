// Planning and carrying out enable, disable and uninstall.
#include "plan/actions.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "stage/manifest.h"
#include "support/device_root.h"
#include "support/files.h"
#include "support/set_text.h"

namespace {

std::string namesOf(const RecordList& list) {
    std::string text;
    for (const InstalledPackage* package : list)
        text += (text.empty() ? "" : " ") + package->name;
    return text.empty() ? "-" : text;
}

// The staged entries: "-path" for a removal, "+path=content" for a new file.
std::string stagedText(const Manifest& manifest) {
    std::string text;
    for (const auto& [path, entry] : manifest.all()) {
        text += text.empty() ? "" : " ";
        if (entry.kind == EntryKind::NewFile)
            text += "+" + path + "=" + fields(fileText(entry.fullArgument(path)), '\n').at(0);
        else
            text += (entry.kind == EntryKind::Unlink ? "-" : "?") + path;
    }
    return text.empty() ? "-" : text;
}

// A database entry with its state files for every record of records. The image of a
// boot-image record is a link to /flash/bootimage: the first a symbolic one, as on the
// device, any later one a second name of the file.
void writeDatabase(const DeviceRoot& root, const std::string& records) {
    TestSet set;
    addPackages(set, records);
    for (const auto& package : set.packages) {
        std::string dir = "flash/var/pdb/" + package->name + "/";
        root.writeFile(dir + "version", std::to_string(package->version) + " 0\n");
        if (package->disabled || package->userForced)
            root.writeFile(dir + (package->disabled ? "disabled" : "enabled"), "user\n");
        for (std::string_view file : package->files)
            root.writeFile("flash" + std::string(file), "content");
        if (package->flags & FlagBootImage) {
            bool first = !root.exists("flash/bootimage");
            root.writeFile("flash/bootimage", "image");
            if (first)
                symlink("/flash/bootimage", root.path(dir + "image").c_str());
            else
                link(root.path("flash/bootimage").c_str(), root.path(dir + "image").c_str());
        }
    }
}

}  // namespace

// title | installed | verbosity | accepted | removals | enables | set after planning |
// messages ("-" for an empty list)
TEST(ActionsTest, PlanningMakesTheActionsConsistent) {
    for (const std::string& line : fields(R"(
        needed uninstall is cancelled | a deps=b; b uninstall | 1 | 1 | - | - | a b | WARNING: can not uninstall b-1.0: a depends on it
        silently at verbosity 0 | a deps=b; b uninstall | 0 | 1 | - | - | a b |
        disabled dependency is enabled | a deps=b; b disabled | 1 | 1 | - | b | a b:disabled:enable |
        enables in the order of needs | a deps=b; b disabled deps=c; c disabled | 1 | 1 | - | c b | a b:disabled:enable c:disabled:enable |
        the newest candidate is enabled | a deps=b; b 2.0 disabled; b 1.0 disabled | 1 | 1 | - | b | a b:disabled:enable b:disabled |
        a provider is a candidate | a deps=x@2.0; p disabled provides=x@2.0..2.0 | 1 | 1 | - | p | a p:disabled:enable |
        enabling an enabled package keeps it active | a deps=b; b enable | 1 | 1 | - | b | a b:enable |
        dependents of an uninstall go too | a; b uninstall; c disabled deps=b | 1 | 1 | b c | - | a b:uninstall c:disabled:uninstall |
        the walk restarts after a change | a; d disabled deps=c; c disable deps=b; b uninstall | 1 | 1 | d c b | - | a d:disabled:uninstall c:uninstall b:uninstall |
        no candidate at all | a; b deps=x; p placeholder; c deps=p | 1 | 1 | b c | - | a b:uninstall p c:uninstall |
        dependent of a lost enable is disabled | a; b deps=c; c disabled; y disabled enable conflicts=c | 1 | 1 | b | y | a b:disable c:disabled y:disabled:enable | WARNING: can not enable c: y-1.0 conflicts with it
        displaced package is disabled | a disabled enable conflicts=b; b; c disabled | 1 | 1 | b | a | a:disabled:enable b:disable c:disabled |
        higher priority displaces | a disabled enable provides=x:5; b provides=x:1 | 1 | 1 | b | a | a:disabled:enable b:disable |
        enabled displacer gives way | a disabled enable; b conflicts=a | 1 | 1 | b | a | a:disabled:enable b:disable |
        of two enables the displaced loses | a disabled enable; b disabled enable conflicts=a | 1 | 1 | - | b | a:disabled b:disabled:enable | WARNING: can not enable a: b-1.0 conflicts with it
        and the other way round | a disabled enable conflicts=b; b disabled enable | 1 | 1 | - | a | a:disabled:enable b:disabled | WARNING: can not enable b: a-1.0 conflicts with it
        uninstalling all is refused | a uninstall; b disabled disable | 1 | 0 | - | - | a b:disabled | ERROR: can not uninstall or disable all packages
        members follow an uninstall | x; m1 bundle=B; m2 bundle=B disabled; B isbundle uninstall | 1 | 1 | m1 m2 B | - | x m1:uninstall m2:disabled:uninstall B:uninstall |
        members follow a disable | x; m1 bundle=B; m2 bundle=B uninstall; B isbundle disable | 1 | 1 | m1 m2 B | - | x m1:disable m2:uninstall B:uninstall |
        disabled members follow an enable | x; m1 bundle=B disabled; m2 bundle=B; B isbundle disabled enable | 1 | 1 | - | B m1 | x m1:disabled:enable m2 B:disabled:enable |
        a bundle without members goes | x; m1 bundle=B uninstall; m2 bundle=B uninstall; B isbundle | 1 | 1 | m1 m2 B | - | x m1:uninstall m2:uninstall B:uninstall |
        a disabled bundle stays disabled | x; y disabled enable conflicts=m; m bundle=B disabled; B isbundle disabled enable | 1 | 1 | - | y | x y:disabled:enable m:disabled B:disabled | WARNING: can not enable m: y-1.0 conflicts with it
        a member enabled again keeps its bundle | x; m bundle=B enable; B isbundle | 1 | 1 | - | m | x m:enable B |
        a needed member brings its bundle | x deps=m; m bundle=B disabled; B isbundle disabled | 1 | 1 | - | B m | x m:disabled:enable B:disabled:enable |
        placeholders keep out of bundles | x; p placeholder bundle=B; B isbundle uninstall; P placeholder isbundle | 1 | 1 | B | - | x p B:uninstall P |
        a bundle naming itself | x; X disabled enable bundle=X isbundle | 1 | 1 | - | X | x X:disabled:enable |
        bundles naming each other | x; A disabled enable bundle=B isbundle; B disabled bundle=A isbundle | 1 | 1 | - | B A | x A:disabled:enable B:disabled:enable |
    )",
                                          '\n')) {
        std::vector<std::string> f = fields(line, '|');
        TestSet set;
        addPackages(set, f[1]);
        RecordList removals;
        RecordList enables;
        EXPECT_EQ(planActions(set, removals, enables, Verbosity(std::stoi(f[2]))), f[3] == "1")
            << f[0];
        EXPECT_EQ(namesOf(removals), f[4]) << f[0];
        EXPECT_EQ(namesOf(enables), f[5]) << f[0];
        EXPECT_EQ(describeSet(set), f[6]) << f[0];
        EXPECT_EQ(logText(set), f.size() > 7 ? f[7] : "") << f[0];
    }
}

// The record uninstalled is the one destroyed when names repeat (the sanitizer build catches
// a use after free).
// title | installed | verbosity | result | staged | set after | messages | status lines
TEST(ActionsTest, ScheduledActionsAreStagedAndReported) {
    for (const std::string& line : fields(R"(
        nothing to do | a; b disabled | 1 | 0 | - | a b:disabled | |
        uninstalls at verbosity 2 | a; b uninstall files=/bin/b; c disabled deps=b | 2 | 1 | -/flash//bin/b -/flash/var/pdb/b/ -/flash/var/pdb/c/ | a | uninstalled b-1.0;uninstalled c-1.0 | uninstalling b-1.0...;uninstalling c-1.0...
        not at verbosity 1 | a; b uninstall files=/bin/b | 1 | 1 | -/flash//bin/b -/flash/var/pdb/b/ | a | |
        disable, then enable | a disabled enable conflicts=b; b user | 1 | 1 | -/flash/var/pdb/a/disabled +/flash/var/pdb/b/disabled=user -/flash/var/pdb/b/enabled | a b:disabled | disabled b-1.0;enabled a-1.0 | disabling b-1.0...;enabling a-1.0...
        enabling again records the user | a deps=b; b enable user | 1 | 1 | +/flash/var/pdb/b/enabled=user | a b | enabled b-1.0 | enabling b-1.0...
        automatic disable | a; b disable | 0 | 1 | +/flash/var/pdb/b/disabled=auto | a b:disabled | |
        the record itself goes when names repeat | a 1.0; b; a 2.0 uninstall | 2 | 1 | -/flash/var/pdb/a/ | a b | uninstalled a-2.0 | uninstalling a-2.0...
        the boot image goes with its package | a; b uninstall boot files=/bin/b | 0 | 1 | -/flash//bin/b -/flash/bootimage -/flash/var/pdb/b/ -/flash/var/pdb/b/image | a | |
        not while another name links to it | a boot; b uninstall boot | 0 | 1 | -/flash/var/pdb/b/ -/flash/var/pdb/b/image | a | |
        nor with another package | a boot; b uninstall | 0 | 1 | -/flash/var/pdb/b/ | a | |
    )",
                                          '\n')) {
        std::vector<std::string> f = fields(line, '|');
        f.resize(8);
        DeviceRoot root;
        writeDatabase(root, f[1]);
        EXPECT_TRUE(runInRoot(root.root(), [&] {
            TestSet set;
            addPackages(set, f[1]);
            Manifest manifest;
            EXPECT_EQ(applyScheduledActions(set, manifest, Verbosity(std::stoi(f[2]))),
                      f[3] == "1");
            EXPECT_EQ(stagedText(manifest), f[4]);
            EXPECT_EQ(describeSet(set), f[5]);
            EXPECT_EQ(logText(set), f[6]);
            std::string console = set.console.str();
            size_t at = 0;
            for (const std::string& status : fields(f[7], ';'))
                EXPECT_NE(at = console.find(status, at), std::string::npos) << status;
            EXPECT_EQ(console.empty(), f[6].empty());
            manifest.discard();
        })) << f[0];
    }
}
