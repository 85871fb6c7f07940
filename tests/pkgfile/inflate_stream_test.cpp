// Tests of the decompressing streams: block delivery, ends, corrupt data, and the stream
// that inflates ahead on a thread of its own when its reader falls behind or stops early.
#include "pkgfile/inflate_stream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>

#include "pkgfile/inflate_ahead.h"
#include "pkgfile/package_file.h"
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

// The thread fills every block and waits; a reader that then reads on has it go on, one
// that stops early ends it. A reader that comes first waits for the thread, also for a
// part shorter than a block.
TEST(InflateAhead, ReaderAndThreadWaitForEachOther) {
    const size_t ring = InflateAheadBuf::BlockSize * InflateAheadBuf::Blocks;
    const std::tuple<size_t, bool, int> cases[] = {
        {ring * 3, true, 100}, {ring * 3, false, 100}, {1000, true, 0}};
    for (const auto& [size, readOn, pauseMs] : cases) {
        const std::string data = noise(size);
        const std::string bytes = PackageWriter().part(PartFiles, compress(data)).bytes();
        std::istringstream source(bytes);
        PackageFile file(source, false);
        file.acceptedTypes = {PartFiles};
        ASSERT_EQ(file.nextPart(), PartFiles);
        InflateAhead in(file);
        std::string all(1, char(in.get()));
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        if (!readOn)
            continue;
        all += readAll(in);
        EXPECT_EQ(all, data) << size;
        EXPECT_TRUE(in.complete()) << size;
        EXPECT_EQ(in.sourcePosition(), bytes.size()) << size;
    }
}

}  // namespace
