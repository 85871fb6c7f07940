// Loading the package database: meta files, state and schedule files, stored images.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "pkg/database.h"
#include "pkg/package_set.h"
#include "pkgwriter/package_writer.h"
#include "support/device_root.h"
#include "support/set_text.h"

namespace {

const char Fifo[] = "<fifo>";  // fixture content that makes a FIFO
const char Dir[] = "<dir>";    // fixture content that makes a directory
const char Gone[] = "<gone>";  // fixture content that removes an empty directory
const std::string Pdb = "flash/var/pdb/";
using Files = std::vector<std::pair<std::string, std::string>>;

std::string listText(const char* label, const std::vector<Dependency>& list) {
    std::string text;
    for (const Dependency& d : list)
        text += (text.empty() ? std::string(" ") + label + "=" : ",") + d.name + ":" +
                std::to_string(d.min) + ":" + std::to_string(d.max) +
                (d.priority ? ":" + std::to_string(d.priority) : "");
    return text;
}

// "name version buildTime [flags] action lists files note arch", as loading sets them.
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
        for (std::string_view file : p->files)
            text << " " << file;
        text << (p->note.empty() ? "" : " note=" + p->note)
             << (p->arch.empty() ? "" : " arch=" + p->arch) << "\n";
    }
    return text.str();
}

// Loads the database of a fresh root holding files; compares the output, then the records.
void expectLoaded(const Files& files, const std::string& expected) {
    DeviceRoot root;
    for (const auto& [path, content] : files) {
        if (content == Dir) {
            root.makeDir(path);
        } else if (content == Gone) {
            rmdir(root.path(path).c_str());
        } else if (content == Fifo) {
            root.makeDir(path.substr(0, path.rfind('/')));
            mkfifo(root.path(path).c_str(), 0644);
        } else {
            root.writeFile(path, content);
        }
    }
    EXPECT_TRUE(runInRoot(root.root(), [&] {
        PackageSet set;
        std::ostringstream out;
        set.out = &out;
        loadDatabase(set, false, "i386");
        EXPECT_EQ(out.str() + recordsText(set), expected);
    }));
}

// A package image with every kind of part a reader of the database passes over.
std::string fullImage() {
    Package dhcp("dhcp", 103310853, 1489000000);
    dhcp.note = "DHCP server";
    dhcp.arch = "powerpc";  // the database reader never asks for this part
    dhcp.deps = {{"system", 103310853, 0}};
    dhcp.provides = {{"dhcpd", 1, 2, -3}};
    dhcp.conflicts = {{"old", 0, 5}};
    PackageWriter writer;
    addPackageParts(writer, dhcp, {{"bin/dhcpd", "binary"}}, "opaque image");
    return writer.part(PartSignature, std::string(68, 's')).bytes();
}

// Files of a case: "path=content; ..." with paths below the database ("/" first: below the
// root) and "\n", "\t" in contents. Images: <image NAME VERSION TIME>, the same with a
// foreign magic (<foreign ...>) or a note part first (<noted ...>), <short> (a header part
// of 20 bytes), <bundle NAME MEMBER,...> and <full>.
Files parseFiles(const std::string& text) {
    Files files;
    for (const std::string& file : fields(text, ';')) {
        size_t equals = file.find('=');
        std::string path = file.substr(0, equals), content = file.substr(equals + 1);
        for (size_t at = 0; (at = content.find('\\', at)) != std::string::npos; ++at)
            content.replace(at, 2, content[at + 1] == 'n' ? "\n" : "\t");
        std::istringstream words(content.substr(0, content.find('>')));
        std::string kind, name, more;
        uint32_t buildTime = 0;
        words >> kind >> name >> more >> buildTime;
        PackageWriter writer(kind == "<foreign" ? 0x12345678 : PackageMagic);
        if (kind == "<noted")
            writer.part(PartNote, "n");
        if (kind == "<image" || kind == "<foreign" || kind == "<noted") {
            content = writer.header(Package(name, Version(std::stoul(more)), buildTime)).bytes();
        } else if (kind == "<short") {
            content = writer.part(PartPackageHeader, std::string(20, 'x')).bytes();
        } else if (kind == "<bundle") {
            writer.header(Package(name, 1, 1), PartBundleHeader);
            for (const std::string& member : fields(more, ','))
                writer.header(Package(member, 1, 1));
            content = writer.bytes();
        } else if (content == "<full>") {
            content = fullImage();
        }
        files.push_back({path[0] == '/' ? path.substr(1) : Pdb + path, content});
    }
    return files;
}

}  // namespace

// what | files | loaded records, ";" between them
TEST(DatabaseReaderTest, MetaFilesAndImages) {
    for (const std::string& line : fields(R"(
        lists split by any white space, files with and without a slash, none leading out of /flash | dhcp/version=1 2; dhcp/deps=system 103310853 0\nppp\t1 2 routing\n3\n4; dhcp/provides=dhcpd 5 6 -1\nlease 0 0 2147483647\n; dhcp/conflicts=old 0 9\n; dhcp/files=bin/a\n/bin/b\n\nbin/a\nlib/with space\n/../etc/passwd\nbin/..\nbin/..x |  dhcp 1 2 none deps=system:103310853:0,ppp:1:2,routing:3:4 provides=dhcpd:5:6:-1,lease:0:0:2147483647 conflicts=old:0:9 /bin/..x /bin/a /bin/b /lib/with space
        broken list lines | p/version=1 2; p/deps=a 1 2\nb 5\n; p/conflicts=c 3 4; q/version=1 2; q/provides=x 1 2\n; r/version=1 2; r/provides=y 1 2 -2147483648\nx 1 2 2147483648 | p 1 2 bundle uninstall deps=a:1:2 conflicts=c:3:4; q 1 2 bundle uninstall; r 1 2 bundle uninstall provides=y:1:2:-2147483648
        state files | a/version=1 2; a/files=; a/disabled=auto\n; b/version=1 2; b/files=; b/disabled=; c/version=1 2; c/files=; c/disabled=auto; c/enabled=user; d/version=1 2; d/files=; d/enabled= | a 1 2 disabled none; b 1 2 disabled user none; c 1 2 disabled none; d 1 2 user none
        schedule files by safe name, first word only | web_proxy.x/version=1 2; web_proxy.x/files=; /ram/pdb/webproxyx/schedule=enable\n; e/version=1 2; e/files=; /ram/pdb/e/schedule=uninstall extra\n; f/version=1 2; f/files=; /ram/pdb/f/schedule=Enable\n; g/version=1 2; g/files=; /ram/pdb/g/schedule=; h.x/version=1 2; h.x/files=; /ram/pdb/h.x/schedule=enable | e 1 2 uninstall; f 1 2 none; g 1 2 none; h.x 1 2 none; web_proxy.x 1 2 user enable
        a FIFO or a directory counts as missing | p/version=<fifo>; p/files=<dir>; p/disabled=<fifo> | p 0 0 bundle uninstall
        placeholder reads no schedule | hold/version=4294967295 4294967295\n; hold/disabled=user\n; /ram/pdb/hold/schedule=uninstall\n | hold 4294967295 4294967295 disabled user bundle none
        no database | =<gone>; /rw/pckg/.images/dhcp=<image dhcp 1 2> | WARNING: could not open repo
        an image describes the package; its state files are read, not its meta files | dhcp/image=<full>; dhcp/version=1 2; dhcp/disabled=auto | dhcp 103310853 1489000000 disabled none deps=system:103310853:0 provides=dhcpd:1:2:-3 conflicts=old:0:5 note=DHCP server arch=i386
        images that can't describe their entries (names that would build paths outside the database among them) leave it to the meta files | a/image=<foreign x 1 1>; a/version=1 9; b/image=<noted x 1 1>; b/version=1 9; c/image=<short>; c/version=1 9; d/image=<image ../../victim 1 1>; d/version=1 9; e/image=<image .. 1 1>; e/version=1 9; f/image=<bundle x/y m>; f/version=1 9; g/image=<bundle b m,../m>; g/version=1 9 | a 1 9 bundle none; b 1 9 bundle none; c 1 9 bundle none; d 1 9 bundle none; e 1 9 bundle none; f 1 9 bundle none; g 1 9 bundle none
        images of both places, names other than the directory's | ppp/=<dir>; /rw/pckg/.images/ppp=<image ppp 3 4>; /rw/pckg/.images/orphan=<image orphan 1 1>; dir1/image=<image other 5 6>; both/image=<image both 7 8>; /rw/pckg/.images/both=<image both 9 9> | both 7 8 none arch=i386; other 5 6 none arch=i386; both 9 9 none arch=i386; ppp 3 4 none arch=i386; dir1 0 0 bundle uninstall
    )",
                                          '\n')) {
        std::vector<std::string> f = fields(line, '|');
        SCOPED_TRACE(f[0]);
        std::string records;
        for (const std::string& record : fields(f[2], ';'))
            records += record + "\n";
        expectLoaded(parseFiles(f[1]), records);
    }
    const std::string word(100000, 'n'), path(100000, 'f');
    expectLoaded({{Pdb + "p/version", "1 2"},
                  {Pdb + "p/deps", word + " 1 2"},
                  {Pdb + "p/files", path + "\nbin/x"}},
                 "p 1 2 none deps=" + word.substr(0, 255) + ":1:2 /bin/x\n");  // overlong
    // words are cut, overlong lines dropped
}
