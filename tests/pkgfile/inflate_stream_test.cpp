// Tests of the decompressing stream: block delivery, ends, corrupt data, skipping.
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
    for (char& c : data) {
        state = state * 1103515245 + 12345;
        c = char(state >> 23);
    }
    return data;
}

// A source that hands out at most one byte per read, so that most refills consume input
// without producing output.
class TrickleSource : public std::streambuf {
  public:
    explicit TrickleSource(std::string data) : data(std::move(data)) {}

  protected:
    std::streamsize xsgetn(char* s, std::streamsize count) override {
        if (count <= 0 || next >= data.size())
            return 0;
        *s = data[next++];
        return 1;
    }
    int_type underflow() override {
        return next < data.size() ? traits_type::to_int_type(data[next]) : traits_type::eof();
    }
    int_type uflow() override {
        return next < data.size() ? traits_type::to_int_type(data[next++]) : traits_type::eof();
    }

  private:
    std::string data;
    size_t next = 0;
};

std::string readAll(std::istream& in, size_t chunk = 16384) {
    std::string all, piece(chunk, '\0');
    while (in.read(&piece[0], std::streamsize(chunk)) || in.gcount() > 0)
        all.append(piece, 0, size_t(in.gcount()));
    return all;
}

TEST(InflateStream, EmptySourceEndsAtOnce) {
    std::istringstream source("");
    InflateStream in(source);
    char c;
    EXPECT_FALSE(in.read(&c, 1));
    EXPECT_EQ(in.gcount(), 0);
    EXPECT_TRUE(in.eof());
}

TEST(InflateStream, DeliversBlocksOfAtMost4096AndAShortLastRead) {
    const std::string data = noise(10000);
    std::istringstream source(compress(data));
    InflateStream in(source);
    std::string seen;
    while (in.peek() != std::char_traits<char>::eof()) {
        std::streamsize ready = in.rdbuf()->in_avail();
        ASSERT_GT(ready, 0);
        ASSERT_LE(ready, 4096);
        std::string block(size_t(ready), '\0');
        in.read(&block[0], ready);
        seen += block;
    }
    EXPECT_EQ(seen, data);
    EXPECT_EQ(in.produced(), 10000u);

    std::istringstream again(compress(data));
    InflateStream whole(again);
    std::string buffer(16384, '\0');
    whole.read(&buffer[0], 16384);
    EXPECT_EQ(whole.gcount(), 10000);
    EXPECT_TRUE(whole.eof());
    EXPECT_TRUE(whole.fail());
    EXPECT_EQ(buffer.substr(0, 10000), data);
}

TEST(InflateStream, RefillsThatConsumeInputWithoutOutputKeepTheContentWhole) {
    for (int level : {0, 6}) {
        const std::string data = noise(9000) + std::string(5000, 'x');
        TrickleSource trickle(compress(data, level));
        std::istream source(&trickle);
        InflateStream in(source);
        EXPECT_EQ(readAll(in, 1000), data) << "level " << level;
    }
}

TEST(InflateStream, SkipsForwardAndRefusesOtherSeeks) {
    const std::string data = noise(10000);
    struct Case {
        const char* what;
        std::streamoff offset;
        std::ios_base::seekdir direction;
        bool succeeds;
        size_t next;  // where reading goes on, from offset 100
    };
    const Case cases[] = {
        {"forward 5000", 4900, std::ios_base::cur, true, 5000},
        {"forward 0", 0, std::ios_base::cur, true, 100},
        {"to 5000 from the start", 5000, std::ios_base::beg, true, 5000},
        {"to the current position", 100, std::ios_base::beg, true, 100},
        {"from the end", -10, std::ios_base::end, false, 100},
        {"backward", -1, std::ios_base::cur, false, 100},
        {"back to 50", 50, std::ios_base::beg, false, 100},
    };
    for (const Case& c : cases) {
        std::istringstream source(compress(data));
        InflateStream in(source);
        std::string first(100, '\0');
        ASSERT_TRUE(in.read(&first[0], 100));
        in.seekg(c.offset, c.direction);
        EXPECT_EQ(!in.fail(), c.succeeds) << c.what;
        in.clear();
        EXPECT_EQ(readAll(in), data.substr(c.next)) << c.what;
    }

    std::istringstream source(compress(data));
    InflateStream in(source);
    in.seekg(5000, std::ios_base::cur);
    EXPECT_EQ(readAll(in), data.substr(5000)) << "skip from the very start";

    std::istringstream shortSource(compress(data));
    InflateStream past(shortSource);
    past.seekg(10001, std::ios_base::cur);
    EXPECT_TRUE(past.fail()) << "a skip past the end fails";
}

TEST(InflateStream, BadDataReadsAsAnEarlyEndThatIsNotComplete) {
    const std::string data = noise(10000);
    const std::string good = compress(data);
    std::string corrupt = good;
    corrupt[good.size() / 2] ^= 0x55;
    std::string badChecksum = good;
    badChecksum[good.size() - 1] ^= 1;
    const struct {
        const char* what;
        std::string source;
    } cases[] = {
        {"corrupt block", corrupt},
        {"cut short", good.substr(0, good.size() / 2)},
        {"wrong checksum", badChecksum},
        {"not zlib at all", "plain text, not compressed"},
    };
    for (const auto& c : cases) {
        std::istringstream source(c.source);
        InflateStream in(source);
        std::string buffer(16384, '\0');
        in.read(&buffer[0], 16384);
        EXPECT_LT(in.gcount(), 10000) << c.what;
        EXPECT_TRUE(in.fail()) << c.what;
        EXPECT_FALSE(in.complete()) << c.what;
    }
    std::istringstream source(good);
    InflateStream in(source);
    std::string buffer(16384, '\0');
    in.read(&buffer[0], 16384);
    EXPECT_EQ(in.gcount(), 10000);
    EXPECT_TRUE(in.complete()) << "the true end";
}

TEST(InflateStream, OneByteCanBePutBackAcrossABlockBoundary) {
    const std::string data = noise(10000);
    std::istringstream source(compress(data));
    InflateStream in(source);
    std::string block(4096, '\0');
    ASSERT_TRUE(in.read(&block[0], 4096));
    ASSERT_EQ(in.peek(), static_cast<unsigned char>(data[4096]));  // the next block
    ASSERT_TRUE(in.unget());
    EXPECT_EQ(in.get(), static_cast<unsigned char>(data[4095]));
    EXPECT_EQ(in.get(), static_cast<unsigned char>(data[4096]));
}

}  // namespace
