// Names as archives store them, turned into UTF-8 without a converter.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DecoderHelper/NameText.h"
#include "support/RarTool.h"
#include "support/TempDirectory.h"

namespace tovani::testing {
namespace {

using NameText::Legacy;

TEST(NameText, ValidUtf8StaysAsItIsAndAnythingElseIsReadInTheLegacyPage) {
    struct Case {
        std::string bytes;
        Legacy legacy;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"plain/ascii.txt", Legacy::cp437, "plain/ascii.txt"},
        {"caf\xc3\xa9.txt", Legacy::cp437, "caf\xc3\xa9.txt"},            // UTF-8 already
        {"\xf0\x9f\x93\xb7.jpg", Legacy::cp437, "\xf0\x9f\x93\xb7.jpg"},  // four bytes
        {"caf\x82.txt", Legacy::cp437, "caf\xc3\xa9.txt"},                // CP437 é
        {"\x8e\x99\x9a", Legacy::cp437, "\xc3\x84\xc3\x96\xc3\x9c"},      // ÄÖÜ
        {"\xe1", Legacy::cp437, "\xc3\x9f"},                              // ß
        {"caf\xe9.txt", Legacy::latin1, "caf\xc3\xa9.txt"},
        // Forms that look like UTF-8 but are not: overlong, surrogate, cut.
        {"\xc0\xaf", Legacy::latin1, "\xc3\x80\xc2\xaf"},
        {"\xed\xa0\x80", Legacy::latin1, "\xc3\xad\xc2\xa0\xc2\x80"},
        {"a\xc3", Legacy::latin1, "a\xc3\x83"},
        {"\xf4\x90\x80\x80", Legacy::latin1, "\xc3\xb4\xc2\x90\xc2\x80\xc2\x80"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NameText::toUtf8(c.bytes, c.legacy), c.expected) << c.bytes;
    }
}

// The whole upper half against Python's own code page.
TEST(NameText, Cp437TableMatchesPythonsCodec) {
    TempDirectory dir;
    const ToolRun run =
        runTool(dir.path(), "python3",
                {"-c",
                 "import sys; sys.stdout.buffer.write(bytes(range(128, 256)).decode('cp437')"
                 ".encode('utf-8'))"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    std::string upper;
    for (int byte = 128; byte < 256; ++byte) {
        upper += static_cast<char>(byte);
    }
    EXPECT_EQ(NameText::toUtf8(upper, Legacy::cp437), run.output);
}

}  // namespace
}  // namespace tovani::testing
