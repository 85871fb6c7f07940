// Tests of the flash space check against small file systems mounted in the device root.
#include <unistd.h>

#include <gtest/gtest.h>

#include "stage/manifest.h"
#include "stage/space.h"
#include "support/device_root.h"
#include "support/files.h"
#include "support/set_text.h"

namespace {

// One step of a case: "old PATH BLOCKS" puts an old file there, "huge PATH" a sparse
// 4 GiB one, "remove PATH" stages its removal, "new PATH BLOCKS [here]" a new file moved
// from /ram or, with "here", made where createFile places it.
void stage(Manifest& manifest, const std::string& step) {
    std::istringstream words(step);
    std::string verb, path, here;
    size_t blocks = 0;
    words >> verb >> path >> blocks >> here;
    if (verb == "old") {
        putFile(path, std::string(blocks * 4096, 'o'));
    } else if (verb == "huge") {
        putFile(path, "");
        ASSERT_EQ(truncate(path.c_str(), 4096LL << 20), 0);
    } else if (verb == "remove") {
        manifest.stageRemove(path);
    } else if (here.empty()) {
        putFile("/ram/new", std::string(blocks * 4096, 'n'));
        manifest.stageMove("/ram/new", path);
    } else {
        manifest.createFile(path, 4096, 0) << std::string(blocks * 4096, 'n');
    }
}

}  // namespace

// A temporary file beside its old target costs nothing more, beside a new target it is
// counted again; a replaced file also staged for removal gives its blocks back once. The
// journal takes a block.
// title | size of /flash | of /flash/boot ("-": none) | steps | fits
TEST(SpaceTest, FitsOnFlashKeepsMoreThanSixteenBlocksFree) {
    for (const std::string& line : fields(R"(
        seventeen free blocks fit           | 68k | 68k | -                                                      | 1
        sixteen free blocks are too few     | 64k | 68k | -                                                      | 0
        no /flash/boot                      | 1m  | -   | -                                                      | 0
        a new file                          | 84k | 1m  | new /flash/x 3                                         | 1
        a new file too large                | 84k | 1m  | new /flash/x 4                                         | 0
        a new file in a new folder          | 84k | 1m  | new /flash/a/x 3                                       | 0
        a removal gives its blocks back     | 72k | 68k | old /flash/old 1; remove /flash/old                    | 1
        beside its old target: nothing more | 80k | 68k | old /flash/old 1; new /flash/old 1 here                | 1
        beside a new target: counted again  | 84k | 68k | new /flash/new 2 here                                  | 0
        replaced and removed: back once     | 84k | 68k | old /flash/old 3; remove /flash//old; new /flash/old 4 | 0
        a removal of 4 GiB                  | 64k | 68k | huge /flash/huge; remove /flash/huge                   | 1
    )",
                                          '\n')) {
        std::vector<std::string> f = fields(line, '|');
        DeviceRoot root;
        std::vector<TestMount> mounts = {{"flash", "size=" + f[1]}};
        if (f[2] != "-")
            mounts.push_back({"flash/boot", "size=" + f[2]});
        EXPECT_TRUE(runInRootWithMounts(root.root(), mounts, [&] {
            Manifest manifest;
            for (const std::string& step : fields(f[3], ';'))
                if (step != "-")
                    stage(manifest, step);
            EXPECT_EQ(manifest.fitsOnFlash(), f[4] == "1");
        })) << f[0];
    }
}
