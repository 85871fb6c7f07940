// Tests of the decompressing stream: block delivery, ends, corrupt data.
#include "pkgfile/inflate_stream.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "pkgwriter/package_writer.h"

namespace {

// Incompressible bytes, so that the compressed stream spans several source blocks.
std::string noise(size_t size) {
    std::string data(size, '\0');
    uint32_t state = 12345;
    for (char& c : data)
        c = char((state = state * 1103515245 + 12345) >> 23);
    return data;
}

// One byte per read, so that most refills consume input without producing output.
struct TrickleSource : std::streambuf {
    explicit TrickleSource(std::string data) : data(std::move(data)) {}
    std::streamsize xsgetn(char* s, std::streamsize count) override {
        if (count <= 0 || next >= data.size())
            return 0;
        *s = data[next++];
        return 1;
    }
    std::string data;
    size_t next = 0;
};

std::string readAll(std::istream& in, size_t chunk = 16384) {
    std::string all, piece(chunk, '\0');
    while (in.read(&piece[0], std::streamsize(chunk)) || in.gcount() > 0)
        all.append(piece, 0, size_t(in.gcount()));
    return all;
}

const std::string Data = noise(10000);

TEST(InflateStream, DeliversBlocksOfAtMost4096AndEnds) {
    std::istringstream source(compress(Data));
    InflateStream in(source);
    std::string seen;
    while (in.peek() != std::char_traits<char>::eof()) {
        if (!seen.empty()) {  // the last byte of the block before can be put back
            ASSERT_TRUE(in.unget());
            EXPECT_EQ(in.get(), static_cast<unsigned char>(seen.back()));
        }
        std::streamsize ready = in.rdbuf()->in_avail();
        ASSERT_TRUE(ready > 0 && ready <= 4096) << ready;
        std::string block(size_t(ready), '\0');
        in.read(&block[0], ready);
        seen += block;
    }
    EXPECT_EQ(seen, Data);
    EXPECT_EQ(in.produced(), 10000u);
    for (int level : {0, 6}) {
        TrickleSource trickle(compress(Data + std::string(5000, 'x'), level));
        std::istream slow(&trickle);
        InflateStream trickled(slow);
        EXPECT_EQ(readAll(trickled, 1000), Data + std::string(5000, 'x')) << "level " << level;
    }

    // Bad data reads as an early end that is not complete. The check bytes at the end must
    // be there but are not compared (the package's signature covers them).
    const std::string good = compress(Data);
    std::string badHeader = good, badChecksum = good;
    badHeader[1] ^= 1;
    badChecksum[good.size() - 1] ^= 1;
    const std::string sources[] = {good,      badChecksum,
                                   "",        good.substr(0, good.size() - 2),
                                   badHeader, "plain text, not compressed"};
    for (const std::string& zipped : sources) {
        bool whole = &zipped - sources < 2;
        std::istringstream source(zipped);
        InflateStream in(source);
        std::string all = readAll(in);
        EXPECT_TRUE(in.eof() && in.fail());
        EXPECT_EQ(in.complete(), whole) << &zipped - sources;
        EXPECT_TRUE(whole ? all == Data : all.size() <= Data.size()) << &zipped - sources;
    }
}

}  // namespace
