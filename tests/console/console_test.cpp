// Console output byte for byte: messages, the rewritten status line and the progress bar.
#include <gtest/gtest.h>

#include "pkg/package_set.h"
#include "support/set_text.h"

namespace {

const std::string Hide = "\x1b[?25l";
const std::string Show = "\x1b[?25h";
const std::string Wipe79 = "\r" + std::string(79, ' ') + "\r";

class ConsoleTest : public ::testing::Test {
  protected:
    // What was written since the last call.
    std::string written() {
        std::string text = set.console.str();
        set.console.str("");
        return text;
    }

    TestSet set;
};

}  // namespace

TEST_F(ConsoleTest, MessagesArePrefixedCutAt255BytesAndLoggedUnlessQuiet) {
    std::string text(300, 'm'), cut(255, 'm');
    set.error("disk %s", "full");
    set.warning("%s", text.c_str());
    set.info("%s", text.c_str());
    EXPECT_EQ(written(), "ERROR: disk full\nWARNING: " + cut + "\n" + cut + "\n");
    EXPECT_EQ(set.log, (std::vector<std::string>{"ERROR: disk full", "WARNING: " + cut, cut}));
    set.quiet = true;
    set.setStatus("installing");
    set.error("e");
    set.warning("w");
    set.info("i");
    set.setStatus("");
    EXPECT_EQ(written(), "");
    EXPECT_EQ(set.log.size(), 3u);
    EXPECT_EQ(set.status, "");
}

TEST_F(ConsoleTest, StatusLineIsRewrittenInPlaceAndMessagesTakeItsPlace) {
    set.setStatus("abcdefg");
    EXPECT_EQ(written(), Hide + "\rabcdefg\r" + Show);
    set.setStatus("abcdefg");
    EXPECT_EQ(written(), "");
    set.setStatus("xy");
    EXPECT_EQ(written(), Hide + "\rxy     \r" + Show);
    set.setStatus("");
    EXPECT_EQ(written(), Hide + "\r  \r" + Show);
    EXPECT_EQ(set.status, "");
    EXPECT_TRUE(set.log.empty());
    // A warning is printed above the status line; an error or note takes its place.
    const std::tuple<void (PackageSet::*)(const char*, ...), std::string, const char*> cases[] = {
        {&PackageSet::warning, Wipe79 + "WARNING: boom\nworking [##  ]", "working [##  ]"},
        {&PackageSet::error, Hide + "\r              \r" + Show + "ERROR: boom\n", ""},
        {&PackageSet::info, Hide + "\r              \r" + Show + "boom\n", ""},
    };
    for (const auto& [report, line, status] : cases) {
        set.setStatus("working [##  ]");
        written();
        (set.*report)("%s", "boom");
        EXPECT_EQ(written(), line);
        EXPECT_EQ(set.status, status);
    }
}

TEST_F(ConsoleTest, ProgressBarRunsFromEmptyToFull) {
    // A file header of 8 bytes read out of 2,008 fills no place of the bar.
    const std::string label = "installing dhcp-6.40";
    const size_t width = 76 - (label.size() + 2);
    set.progress(8, 2008, label);
    EXPECT_EQ(set.status, label + " [" + std::string(width, ' ') + "]");
    set.progress(2008, 2008, label);
    EXPECT_EQ(set.status, label + " [" + std::string(width, '#') + "]");
    EXPECT_EQ(set.status.size(), 77u);
}
