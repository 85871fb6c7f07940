// Planning and carrying out enable, disable and uninstall.
#include "plan/actions.h"

#include <gtest/gtest.h>

#include "pkg/package_set.h"
#include "stage/manifest.h"
#include "support/device_root.h"
#include "support/files.h"
#include "support/package_table.h"

namespace {

std::string namesOf(const RecordList& list) {
    std::string text;
    for (const InstalledPackage* package : list)
        text += (text.empty() ? "" : " ") + package->name;
    return text;
}

struct PlanCase {
    const char* title;
    const char* installed;
    int verbosity;
    bool accepted;
    const char* removals;
    const char* enables;
    const char* after;  // describeSet after planning
    const char* log;
};

void runPlanCases(const std::vector<PlanCase>& cases) {
    for (const PlanCase& c : cases) {
        TestSet set;
        addPackages(set, c.installed);
        RecordList removals;
        RecordList enables;
        EXPECT_EQ(planActions(set, removals, enables, c.verbosity), c.accepted) << c.title;
        EXPECT_EQ(namesOf(removals), c.removals) << c.title;
        EXPECT_EQ(namesOf(enables), c.enables) << c.title;
        EXPECT_EQ(describeSet(set), c.after) << c.title;
        EXPECT_EQ(logText(set), c.log) << c.title;
    }
}

}  // namespace

TEST(ActionsTest, DependenciesOfWantedPackagesStayOrBecomeActive) {
    runPlanCases({
        {"uninstall of a needed package is cancelled", "a deps=b\nb uninstall", 1, true, "", "",
         "a b", "WARNING: can not uninstall b-1.0: a depends on it\n"},
        {"silently at verbosity 0", "a deps=b\nb uninstall", 0, true, "", "", "a b", ""},
        {"disable of a needed package is cancelled", "a deps=b\nb disable", 1, true, "", "", "a b",
         "WARNING: can not disable b-1.0: a depends on it\n"},
        {"a disabled dependency is enabled", "a deps=b\nb disabled", 1, true, "", "b",
         "a b:disabled:enable", ""},
        {"enables come in the order of needs", "a deps=b\nb disabled deps=c\nc disabled", 1, true,
         "", "c b", "a b:disabled:enable c:disabled:enable", ""},
        {"the newest candidate is enabled", "a deps=b\nb 2.0 disabled\nb 1.0 disabled", 1, true, "",
         "b", "a b:disabled:enable b:disabled", ""},
        {"a provider counts as a candidate", "a deps=x@2.0\np 1.0 disabled provides=x@2.0..2.0", 1,
         true, "", "p", "a p:disabled:enable", ""},
        {"a package enabled again satisfies its dependents", "a deps=b\nb enable user", 1, true, "",
         "b", "a b:enable", ""},
    });
}

TEST(ActionsTest, PackagesWhoseDependenciesFailAreDroppedInTurn) {
    runPlanCases({
        {"a disabled dependent of an uninstall goes too", "a\nb uninstall\nc disabled deps=b", 1,
         true, "b c", "", "a b:uninstall c:disabled:uninstall", ""},
        {"the walk restarts after each change",
         "a\nd disabled deps=c\nc disable deps=b\nb uninstall", 1, true, "d c b", "",
         "a d:disabled:uninstall c:uninstall b:uninstall", ""},
        {"no candidate at all", "a\nb deps=x", 1, true, "b", "", "a b:uninstall", ""},
        {"a dependent of a lost enable is disabled",
         "a\nb deps=c\nc disabled\ny disabled enable conflicts=c", 1, true, "b", "y",
         "a b:disable c:disabled y:disabled:enable",
         "WARNING: can not enable c: y-1.0 conflicts with it\n"},
        {"placeholders are no candidates", "a\nb deps=p\np placeholder", 1, true, "b", "",
         "a b:uninstall p", ""},
    });
}

TEST(ActionsTest, ConflictsAreSettledWhenEnabling) {
    runPlanCases({
        {"the enabled package gives way", "a disabled enable conflicts=b\nb", 1, true, "b", "a",
         "a:disabled:enable b:disable", ""},
        {"a provider with higher priority displaces",
         "a disabled enable provides=x:5\nb provides=x:1", 1, true, "b", "a",
         "a:disabled:enable b:disable", ""},
        {"an enabled displacer disables the one being enabled", "a disabled enable\nb conflicts=a",
         1, true, "b", "a", "a:disabled:enable b:disable", ""},
        {"two enables: the displaced one loses", "a disabled enable\nb disabled enable conflicts=a",
         1, true, "", "b", "a:disabled b:disabled:enable",
         "WARNING: can not enable a: b-1.0 conflicts with it\n"},
        {"two enables the other way round", "a disabled enable conflicts=b\nb disabled enable", 1,
         true, "", "a", "a:disabled:enable b:disabled",
         "WARNING: can not enable b: a-1.0 conflicts with it\n"},
        {"disabled packages are not disabled again", "a disabled enable conflicts=b\nb disabled", 1,
         true, "", "a", "a:disabled:enable b:disabled", ""},
    });
}

TEST(ActionsTest, PlanThatLeavesNothingWantedIsRefused) {
    runPlanCases({
        {"uninstall everything", "a uninstall\nb uninstall", 1, false, "", "", "a b",
         "ERROR: can not uninstall or disable all packages\n"},
        {"disable everything", "a disable\nb disabled uninstall", 1, false, "", "", "a b:disabled",
         "ERROR: can not uninstall or disable all packages\n"},
        {"silently at verbosity 0", "a uninstall", 0, false, "", "", "a", ""},
        {"an empty set has nothing to refuse", "", 1, true, "", "", "", ""},
        {"nothing scheduled", "a\nb disabled", 1, true, "", "", "a b:disabled", ""},
    });
}

TEST(ActionsTest, BundlesAndTheirMembersMoveTogether) {
    runPlanCases({
        {"members follow an uninstalled bundle",
         "x\nm1 bundle=B\nm2 bundle=B disabled\nB isbundle uninstall", 1, true, "m1 m2 B", "",
         "x m1:uninstall m2:disabled:uninstall B:uninstall", ""},
        {"members follow a disabled bundle unless uninstalled",
         "x\nm1 bundle=B\nm2 bundle=B uninstall\nm3 bundle=B disabled\nB isbundle disable", 1, true,
         "m1 m2 m3 B", "", "x m1:disable m2:uninstall m3:disabled:disable B:uninstall", ""},
        {"only disabled members follow an enabled bundle",
         "x\nm1 bundle=B disabled\nm2 bundle=B\nB isbundle disabled enable", 1, true, "", "B m1",
         "x m1:disabled:enable m2 B:disabled:enable", ""},
        {"a bundle whose members all go is uninstalled",
         "x\nm1 bundle=B uninstall\nm2 bundle=B uninstall\nB isbundle", 1, true, "m1 m2 B", "",
         "x m1:uninstall m2:uninstall B:uninstall", ""},
        {"a disabled bundle whose members stay disabled stays disabled",
         "x\ny disabled enable conflicts=m1\nm1 bundle=B disabled\nB isbundle disabled enable", 1,
         true, "", "y", "x y:disabled:enable m1:disabled B:disabled",
         "WARNING: can not enable m1: y-1.0 conflicts with it\n"},
        {"a member enabled again keeps its bundle", "x\nm bundle=B enable\nB isbundle", 1, true, "",
         "m", "x m:enable B", ""},
        {"a needed bundle is enabled with its member",
         "x deps=m\nm bundle=B disabled\nB isbundle disabled", 1, true, "", "B m",
         "x m:disabled:enable B:disabled:enable", ""},
        {"placeholders take no part",
         "x\np placeholder bundle=B\nB isbundle uninstall\nP placeholder isbundle", 1, true, "B",
         "", "x p B:uninstall P", ""},
        {"a bundle naming itself", "x\nX disabled enable bundle=X isbundle", 1, true, "", "X",
         "x X:disabled:enable", ""},
        {"bundles naming each other",
         "x\nA disabled enable bundle=B isbundle\nB disabled bundle=A isbundle", 1, true, "", "B A",
         "x A:disabled:enable B:disabled:enable", ""},
    });
}

namespace {

// The staged entries, one per line: "U path", "M path", "L path", or "N path=content" for
// a new file.
std::string stagedText(const Manifest& manifest) {
    std::string text;
    for (const auto& [path, entry] : manifest.all()) {
        switch (entry.kind) {
            case EntryKind::Unlink:
                text += "U " + path + "\n";
                break;
            case EntryKind::NewFile:
                text += "N " + path + "=" + fileText(entry.argument);
                break;
            case EntryKind::Move:
                text += "M " + path + "\n";
                break;
            case EntryKind::Link:
                text += "L " + path + "\n";
                break;
        }
    }
    return text;
}

// A database entry for every record of installed, with its state files.
void writeDatabase(const DeviceRoot& root, const std::string& installed) {
    TestSet set;
    addPackages(set, installed);
    for (const auto& package : set.packages) {
        std::string dir = "flash/var/pdb/" + package->name + "/";
        root.writeFile(dir + "version", std::to_string(package->version) + " 0\n");
        if (package->disabled)
            root.writeFile(dir + "disabled", package->userForced ? "user\n" : "auto\n");
        else if (package->userForced)
            root.writeFile(dir + "enabled", "user\n");
        for (const std::string& file : package->files)
            root.writeFile("flash" + file, "content");
    }
}

struct ApplyCase {
    const char* title;
    const char* installed;
    int verbosity;
    int result;
    const char* staged;
    const char* after;
    const char* log;
    std::vector<std::string> statusLines;  // shown on the console, in this order
};

}  // namespace

TEST(ActionsTest, ScheduledActionsAreStagedAndReported) {
    const ApplyCase cases[] = {
        {"nothing to do", "a\nb disabled", 1, 0, "", "a b:disabled", "", {}},
        {"uninstalls are reported at verbosity 2",
         "a\nb uninstall files=/bin/b\nc disabled deps=b",
         2,
         1,
         "U /flash//bin/b\nU /flash/var/pdb/b/\nU /flash/var/pdb/c/\n",
         "a",
         "uninstalled b-1.0\nuninstalled c-1.0\n",
         {"uninstalling b-1.0...", "uninstalling c-1.0..."}},
        {"but not at verbosity 1",
         "a\nb uninstall files=/bin/b",
         1,
         1,
         "U /flash//bin/b\nU /flash/var/pdb/b/\n",
         "a",
         "",
         {}},
        {"a displaced package is disabled before the other is enabled",
         "a disabled enable conflicts=b\nb user",
         1,
         1,
         "U /flash/var/pdb/a/disabled\nN /flash/var/pdb/b/disabled=user\n"
         "U /flash/var/pdb/b/enabled\n",
         "a b:disabled",
         "disabled b-1.0\nenabled a-1.0\n",
         {"disabling b-1.0...", "enabling a-1.0..."}},
        {"a user's enable of an enabled package is recorded",
         "a deps=b\nb enable user",
         1,
         1,
         "N /flash/var/pdb/b/enabled=user\n",
         "a b",
         "enabled b-1.0\n",
         {"enabling b-1.0..."}},
        {"an automatic disable says so",
         "a\nb disable",
         0,
         1,
         "N /flash/var/pdb/b/disabled=auto\n",
         "a b:disabled",
         "",
         {}},
        {"a refused plan stages nothing",
         "a uninstall\nb disable",
         1,
         0,
         "",
         "a b",
         "ERROR: can not uninstall or disable all packages\n",
         {}},
    };
    for (const ApplyCase& c : cases) {
        DeviceRoot root;
        writeDatabase(root, c.installed);
        EXPECT_TRUE(runInRoot(root.root(), [&] {
            TestSet set;
            addPackages(set, c.installed);
            Manifest manifest;
            EXPECT_EQ(applyScheduledActions(set, manifest, c.verbosity), c.result) << c.title;
            EXPECT_EQ(stagedText(manifest), c.staged) << c.title;
            EXPECT_EQ(describeSet(set), c.after) << c.title;
            EXPECT_EQ(logText(set), c.log) << c.title;
            std::string console = set.console.str();
            size_t at = 0;
            for (const std::string& status : c.statusLines) {
                at = console.find(status, at);
                EXPECT_NE(at, std::string::npos) << c.title << ": " << status;
            }
            if (c.log[0] == 0) {
                EXPECT_EQ(console, "") << c.title;
            }
            manifest.discard();
        })) << c.title;
    }
}

// Two records of one name: the one uninstalled is the one destroyed, and the other stays
// usable (the sanitizer build catches a use after free).
TEST(ActionsTest, UninstallTakesOutTheRecordItselfWhenNamesRepeat) {
    DeviceRoot root;
    EXPECT_TRUE(runInRoot(root.root(), [] {
        TestSet set;
        addPackages(set, "a 1.0\nb\na 2.0 uninstall");
        Manifest manifest;
        EXPECT_EQ(applyScheduledActions(set, manifest, 2), 1);
        EXPECT_EQ(describeSet(set), "a b");
        EXPECT_EQ(packageText(*set.packages[0]), "a-1.0");
        EXPECT_EQ(logText(set), "uninstalled a-2.0\n");
    }));
}
