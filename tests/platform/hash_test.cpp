// Known answers of the platform hashes, and finish starting the next digest afresh.
#include "platform/hash.h"

#include <gtest/gtest.h>

#include <string>

#include "pkgwriter/signer.h"

TEST(HashTest, KnownAnswersAndFinishRestarts) {
    SHA1 sha1;
    SHA256 sha256;
    struct Case {
        Hash* hash;
        size_t size;
        std::string empty, abc;
    } cases[] = {
        {&sha1, 20, "da39a3ee5e6b4b0d3255bfef95601890afd80709",
         "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {&sha256, 32, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
         "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    };
    const uint8_t abc[] = {'a', 'b', 'c'};
    for (const Case& c : cases) {
        auto finished = [&c] {
            uint8_t out[32];
            c.hash->finish(out);
            return hexText(out, c.size);
        };
        EXPECT_EQ(finished(), c.empty);
        // In two pieces after a finish: only the bytes since the finish count.
        c.hash->update(abc, 1);
        c.hash->update(abc + 1, 2);
        EXPECT_EQ(finished(), c.abc);
        c.hash->update(abc, 3);
        EXPECT_EQ(finished(), c.abc);
    }
}
