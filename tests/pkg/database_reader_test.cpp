// Loading the package database: meta files, state and schedule files, stored images. Each
// case is a set of files on a device root and the loaded records in a compact text form.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "pkg/database.h"
#include "pkg/package_set.h"
#include "pkgwriter/package_writer.h"
#include "support/device_root.h"

namespace {

const char Fifo[] = "<fifo>";  // fixture content that makes a FIFO
const char Dir[] = "<dir>";    // fixture content that makes a directory
const std::string Pdb = "flash/var/pdb/";

struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> files;
    const char* records;  // one line per record, in load order
};

std::string listText(const char* label, const std::vector<Dependency>& list) {
    std::string text;
    for (const Dependency& d : list) {
        text += (text.empty() ? std::string(" ") + label + "=" : ",") + d.name + ":" +
                std::to_string(d.min) + ":" + std::to_string(d.max);
        if (d.priority != 0)
            text += ":" + std::to_string(d.priority);
    }
    return text;
}

// "name version buildTime [flags] action lists files note", the fields that loading sets.
std::string recordsText(const PackageSet& set) {
    static const char* const actions[] = {"none", "uninstall", "enable", "disable"};
    std::ostringstream text;
    for (const auto& p : set.packages) {
        text << p->name << " " << p->version << " " << p->buildTime
             << (p->disabled ? " disabled" : "") << (p->userForced ? " user" : "")
             << (p->isBundle ? " bundle" : "") << (p->keepImage ? " keep" : "");
        if (!p->bundle.name.empty())
            text << " in=" << p->bundle.name << ":" << p->bundle.min << ":" << p->bundle.max;
        text << " " << actions[unsigned(p->action)] << listText("deps", p->deps)
             << listText("provides", p->provides) << listText("conflicts", p->conflicts);
        for (const std::string& file : p->files)
            text << " " << file;
        if (!p->note.empty())
            text << " note=" << p->note;
        if (!p->arch.empty())
            text << " arch=" << p->arch;
        text << "\n";
    }
    return text.str();
}

// Loads the database of root in a child chrooted there; the console output comes first.
void expectLoaded(const DeviceRoot& root, const std::string& expected) {
    EXPECT_TRUE(runInRoot(root.root(), [&] {
        PackageSet set;
        std::ostringstream out;
        set.out = &out;
        loadDatabase(set, false, "i386");
        EXPECT_EQ(out.str() + recordsText(set), expected);
    }));
}

void makeFiles(const DeviceRoot& root, const Case& c) {
    for (const auto& file : c.files) {
        if (file.second == Dir) {
            root.makeDir(file.first);
        } else if (file.second == Fifo) {
            root.makeDir(file.first.substr(0, file.first.rfind('/')));
            mkfifo(root.path(file.first).c_str(), 0644);
        } else {
            root.writeFile(file.first, file.second);
        }
    }
}

Dependency dep(const std::string& name, Version min, Version max, int32_t priority = 0) {
    Dependency d;
    d.name = name;
    d.min = min;
    d.max = max;
    d.priority = priority;
    return d;
}

std::string image(const std::string& name, Version version, uint32_t buildTime) {
    return PackageWriter().header(Package(name, version, buildTime)).bytes();
}

// A package image with every kind of part a reader of the database passes over.
std::string fullImage() {
    Package dhcp("dhcp", 103310853, 1489000000);
    dhcp.note = "DHCP server";
    dhcp.arch = "powerpc";  // the database reader never asks for this part
    dhcp.deps = {dep("system", 103310853, 0)};
    dhcp.provides = {dep("dhcpd", 1, 2, -3)};
    dhcp.conflicts = {dep("old", 0, 5)};
    PackageWriter writer;
    addPackageParts(writer, dhcp, {{"bin/dhcpd", "binary"}}, "opaque image");
    return writer.part(PartSignature, std::string(68, 's')).bytes();
}

// A bundle whose first member's header is cut short.
std::string bundleWithCutMember() {
    Package bundle("norvale", 7, 100);
    bundle.isBundle = true;
    PackageWriter writer;
    addPackageParts(writer, bundle, {});
    writer.list(PartBlockList, {dep("system", 0, 0)});
    return writer.part(PartPackageHeader, std::string(20, 'm')).bytes();
}

const Case MetaFileCases[] = {
    {"version file alone: an enabled bundle",
     {{Pdb + "system/version", "103310853 1489000000\n"}},
     "system 103310853 1489000000 bundle none\n"},
    {"lists split by any white space, files with and without a slash",
     {{Pdb + "dhcp/version", "1 2"},
      {Pdb + "dhcp/deps", "system 103310853 0\nppp\t1 2 routing\n3\n4"},
      {Pdb + "dhcp/provides", "dhcpd 5 6 -1\nlease 0 0 2147483647\n"},
      {Pdb + "dhcp/conflicts", "old 0 9\n"},
      {Pdb + "dhcp/files", "bin/a\n/bin/b\n\nbin/a\nlib/with space"}},
     "dhcp 1 2 none deps=system:103310853:0,ppp:1:2,routing:3:4 "
     "provides=dhcpd:5:6:-1,lease:0:0:2147483647 conflicts=old:0:9 /bin/a /bin/b /lib/with "
     "space\n"},
    {"no version file", {{Pdb + "p/deps", "a 1 2\n"}}, "p 0 0 bundle uninstall deps=a:1:2\n"},
    {"one number in version", {{Pdb + "p/version", "5\n"}}, "p 5 0 bundle uninstall\n"},
    {"negative version", {{Pdb + "p/version", "-1 1"}}, "p 0 0 bundle uninstall\n"},
    {"deps line with one number",
     {{Pdb + "p/version", "1 2"}, {Pdb + "p/deps", "a 1 2\nb 5\n"}, {Pdb + "p/conflicts", "c 3 4"}},
     "p 1 2 bundle uninstall deps=a:1:2 conflicts=c:3:4\n"},
    {"provides without priority",
     {{Pdb + "p/version", "1 2"}, {Pdb + "p/provides", "x 1 2\n"}},
     "p 1 2 bundle uninstall\n"},
    {"priority past 32 bits",
     {{Pdb + "p/version", "1 2"}, {Pdb + "p/provides", "y 1 2 -2147483648\nx 1 2 2147483648"}},
     "p 1 2 bundle uninstall provides=y:1:2:-2147483648\n"},
    {"bundle file",
     {{Pdb + "ppp/version", "1 2"}, {Pdb + "ppp/bundle", "norvale\n"}, {Pdb + "ppp/files", ""}},
     "ppp 1 2 in=norvale:0:0 uninstall\n"},
    {"entries in byte order, dot names skipped, a plain file",
     {{Pdb + "b/version", "1 2"},
      {Pdb + "a/version", "1 2"},
      {Pdb + "C/version", "1 2"},
      {Pdb + ".hidden/version", "1 2"},
      {Pdb + "plain", "not a directory"}},
     "C 1 2 bundle none\na 1 2 bundle none\nb 1 2 bundle none\nplain 0 0 bundle uninstall\n"},
    {"a FIFO or a directory counts as missing",
     {{Pdb + "p/version", Fifo}, {Pdb + "p/files", Dir}, {Pdb + "p/disabled", Fifo}},
     "p 0 0 bundle uninstall\n"},
    {"overlong words and lines are cut",
     {{Pdb + "p/version", "1 2"},
      {Pdb + "p/deps", std::string(100000, 'n') + " 1 2"},
      {Pdb + "p/files", std::string(100000, 'f') + "\nbin/x"}},
     nullptr},
};

}  // namespace

TEST(DatabaseReaderTest, MetaFiles) {
    for (const Case& c : MetaFileCases) {
        SCOPED_TRACE(c.what);
        DeviceRoot root;
        makeFiles(root, c);
        expectLoaded(root, c.records ? c.records
                                     : "p 1 2 none deps=" + std::string(255, 'n') +
                                           ":1:2 /bin/x /" + std::string(4096, 'f') + "\n");
    }
}

TEST(DatabaseReaderTest, StateAndScheduleFiles) {
    const std::string dir = Pdb + "web_proxy.x/";
    const std::string schedule = "ram/pdb/webproxyx/schedule";
    const Case cases[] = {
        {"disabled auto", {{dir + "disabled", "auto\n"}}, "disabled none"},
        {"disabled user", {{dir + "disabled", "user\n"}}, "disabled user none"},
        {"disabled empty", {{dir + "disabled", ""}}, "disabled user none"},
        {"disabled beats enabled",
         {{dir + "disabled", "auto"}, {dir + "enabled", "user"}},
         "disabled none"},
        {"enabled", {{dir + "enabled", ""}}, "user none"},
        {"enable", {{schedule, "enable\n"}}, "user enable"},
        {"disable", {{schedule, "disable"}}, "user disable"},
        {"first word only", {{schedule, " uninstall extra\n"}}, "uninstall"},
        {"capital letter", {{schedule, "Enable\n"}}, "none"},
        {"empty schedule", {{schedule, ""}}, "none"},
        {"unsafe directory name", {{"ram/pdb/web_proxy.x/schedule", "enable"}}, "none"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeviceRoot root;
        root.writeFile(dir + "version", "1 2");
        root.writeFile(dir + "files", "");
        makeFiles(root, c);
        expectLoaded(root, std::string("web_proxy.x 1 2 ") + c.records + "\n");
    }
}

TEST(DatabaseReaderTest, PlaceholderReadsNoSchedule) {
    DeviceRoot root;
    root.writeFile(Pdb + "hold/version", "4294967295 4294967295\n");
    root.writeFile(Pdb + "hold/disabled", "user\n");
    root.writeFile("ram/pdb/hold/schedule", "uninstall\n");
    expectLoaded(root, "hold 4294967295 4294967295 disabled user bundle none\n");
}

TEST(DatabaseReaderTest, MissingDatabaseWarnsAndLoadsNothing) {
    DeviceRoot root;
    rmdir(root.path(Pdb).c_str());
    root.writeFile("rw/pckg/.images/dhcp", image("dhcp", 1, 2));
    expectLoaded(root, "WARNING: could not open repo\n");
}

TEST(DatabaseReaderTest, StoredImages) {
    const Case cases[] = {
        {"an image describes the package; its meta files are not read, its state files are",
         {{Pdb + "dhcp/image", fullImage()},
          {Pdb + "dhcp/version", "1 2"},
          {Pdb + "dhcp/disabled", "auto"}},
         "dhcp 103310853 1489000000 disabled none deps=system:103310853:0 provides=dhcpd:1:2:-3 "
         "conflicts=old:0:5 note=DHCP server arch=i386\n"},
        {"images of both places, names other than the directory's",
         {{Pdb + "ppp/", Dir},
          {"rw/pckg/.images/ppp", image("ppp", 3, 4)},
          {"rw/pckg/.images/orphan", image("orphan", 1, 1)},
          {Pdb + "dir1/image", image("other", 5, 6)},
          {Pdb + "both/image", image("both", 7, 8)},
          {"rw/pckg/.images/both", image("both", 9, 9)}},
         "both 7 8 none arch=i386\nother 5 6 none arch=i386\nboth 9 9 none arch=i386\n"
         "ppp 3 4 none arch=i386\ndir1 0 0 bundle uninstall\n"},
        {"a member cut short ends the members",
         {{Pdb + "norvale/image", bundleWithCutMember()}},
         "norvale 7 100 bundle none arch=i386\n"},
        {"a FIFO is no image",
         {{Pdb + "p/image", Fifo}, {Pdb + "p/version", "1 2"}},
         "p 1 2 bundle none\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeviceRoot root;
        makeFiles(root, c);
        expectLoaded(root, c.records);
    }
}

TEST(DatabaseReaderTest, UnreadableImagesFallBackToMetaFiles) {
    const std::string images[] = {
        PackageWriter(0x12345678).header(Package("x", 1, 1)).bytes(),
        "",
        PackageWriter().part(PartNote, "n").header(Package("x", 1, 1)).bytes(),
        PackageWriter().part(PartPackageHeader, std::string(20, 'x')).bytes(),
        // Names that would build paths outside the database for an uninstall.
        PackageWriter().header(Package("../../victim", 1, 1)).bytes(),
        PackageWriter().header(Package("a b", 1, 1)).bytes(),
        PackageWriter().header(Package("..", 1, 1)).bytes(),
        PackageWriter()
            .header(Package("x/y", 1, 1), PartBundleHeader)
            .header(Package("m", 1, 1))
            .bytes(),
        PackageWriter()
            .header(Package("b", 1, 1), PartBundleHeader)
            .header(Package("m", 1, 1))
            .header(Package("../m", 1, 1))
            .bytes(),
    };
    for (const std::string& bytes : images) {
        DeviceRoot root;
        root.writeFile(Pdb + "p/image", bytes);
        root.writeFile(Pdb + "p/version", "103310853 9\n");
        expectLoaded(root, "p 103310853 9 bundle none\n");
    }
}
