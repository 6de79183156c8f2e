#include "TovaniCore/PathSanitizer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "TovaniCore/ExtractionError.h"

namespace tovani {
namespace {

using namespace std::string_literals;
using Parts = std::vector<std::string>;

// The error components() throws for a path, or nullopt when it accepts it.
std::optional<ExtractionError> refusal(std::string_view path) {
    try {
        PathSanitizer::components(path);
    } catch (const ExtractionError& error) {
        return error;
    }
    return std::nullopt;
}

bool safe(std::string_view target, const Parts& linkAt) {
    return PathSanitizer::isSafeLinkTarget(target, linkAt);
}

TEST(PathSanitizer, SplitsAndDropsDotAndEmptyPieces) {
    EXPECT_EQ(PathSanitizer::components("docs/./readme.txt"), (Parts{"docs", "readme.txt"}));
    EXPECT_EQ(PathSanitizer::components("a//b/"), (Parts{"a", "b"}));
    EXPECT_EQ(PathSanitizer::components("./a/./"), (Parts{"a"}));
    EXPECT_EQ(PathSanitizer::components("file"), (Parts{"file"}));
}

TEST(PathSanitizer, DotsInsideLongerNamesAndBackslashesAreOrdinary) {
    EXPECT_EQ(PathSanitizer::components("..\\..\\etc"), (Parts{"..\\..\\etc"}));
    EXPECT_EQ(PathSanitizer::components(".../..x/x../.hidden"),
              (Parts{"...", "..x", "x..", ".hidden"}));
    EXPECT_EQ(PathSanitizer::components("caf\xC3\xA9/\xE2\x80\xA6"),
              (Parts{"caf\xC3\xA9", "\xE2\x80\xA6"}));
}

TEST(PathSanitizerAttack, AbsolutePath) {
    EXPECT_EQ(refusal("/etc/passwd"), ExtractionError::unsafePath("/etc/passwd"));
    EXPECT_EQ(refusal("//etc/passwd"), ExtractionError::unsafePath("//etc/passwd"));
}

TEST(PathSanitizerAttack, ParentDirectoryAnywhereCarriesTheWholePath) {
    for (const char* path : {"a/../b", "..", "../x", "x/..", "a/b/../../..", "./../x", "x//../"}) {
        EXPECT_EQ(refusal(path), ExtractionError::unsafePath(path)) << path;
    }
}

// A path of count components name/name/..., name repeated.
std::string repeated(const std::string& name, std::size_t count) {
    std::string path;
    for (std::size_t index = 0; index < count; ++index) {
        path += (index == 0 ? "" : "/") + name;
    }
    return path;
}

TEST(PathSanitizerAttack, NamesAndPathsOverTheLimitsAreRefusedUpToTheFirstPartOver) {
    using PathSanitizer::maxComponentBytes;
    using PathSanitizer::maxDepth;
    using PathSanitizer::maxPathBytes;
    const std::string longest(maxComponentBytes, 'n');
    const std::string tooLong(maxComponentBytes + 1, 'n');
    // Paths right at a limit, spelled with extra "." and "/" that do not count.
    const std::string atDepth = repeated("a", maxDepth);
    const std::string atLength =
        repeated(std::string(200, 'n'), 20) + "/" + std::string(maxPathBytes - 20 * 201, 'x');
    ASSERT_EQ(atLength.size(), maxPathBytes);
    for (const std::string& path :
         {longest, "./" + longest + "/", atDepth, "a/./" + atDepth.substr(2), atLength,
          "./" + atLength + "//."}) {
        EXPECT_EQ(refusal(path), std::nullopt) << path.size();
    }
    const struct {
        std::string path;
        std::string named;
    } over[] = {
        {tooLong, tooLong},
        {"docs/" + tooLong, "docs/" + tooLong},
        {"deep/" + tooLong + "/x", "deep/" + tooLong},
        {atDepth + "/a", atDepth + "/a"},
        {atDepth + "/a/b/c", atDepth + "/a"},
        {atLength + "y", atLength + "y"},
        {atLength + "/y/z", atLength + "/y"},
        // The hostile decoder's 100,000 levels, cut short after the limit.
        {repeated("a", 100'000), repeated("a", maxDepth + 1)},
    };
    for (const auto& [path, named] : over) {
        EXPECT_EQ(refusal(path), ExtractionError::writeFailed(named, ENAMETOOLONG)) << path.size();
    }
}

TEST(PathSanitizer, PathsWithNoNameAreRefused) {
    for (const char* path : {"", ".", "./", "/", "//", "./././", "//./"}) {
        EXPECT_EQ(refusal(path), ExtractionError::unsafePath(path)) << path;
    }
}

TEST(PathSanitizerAttack, NulCutsParentDirectoryIntoName) {
    for (std::string path : {"..\0x"s, "a/..\0/b"s, "x\0"s}) {
        EXPECT_EQ(refusal(path), ExtractionError::unsafePath(path));
    }
}

TEST(PathSanitizer, LinkMayClimbAsManyLevelsAsItHasDirectoriesAbove) {
    const Parts deep{"a", "b", "l"};
    EXPECT_TRUE(safe("../../x", deep));
    EXPECT_TRUE(safe("../x", deep));
    EXPECT_TRUE(safe(".././../x", deep));
    EXPECT_TRUE(safe("../..", deep));
    EXPECT_FALSE(safe("../../../x", deep));
    EXPECT_FALSE(safe("../../..", deep));

    const Parts root{"l"};
    EXPECT_TRUE(safe("x", root));
    EXPECT_TRUE(safe(".", root));
    EXPECT_TRUE(safe("./x", root));
    EXPECT_TRUE(safe("x/y//z/", root));
    EXPECT_TRUE(safe("..x", root));
    EXPECT_FALSE(safe("../x", root));
    EXPECT_FALSE(safe("..", root));
}

TEST(PathSanitizerAttack, LinkClimbsAfterAName) {
    EXPECT_FALSE(safe("x/../y", {"a", "b", "l"}));
    EXPECT_FALSE(safe("../x/..", {"a", "b", "l"}));
    EXPECT_FALSE(safe("x/..", {"l"}));
}

TEST(PathSanitizerAttack, LinkToAbsoluteOrEmptyTarget) {
    EXPECT_FALSE(safe("/etc/passwd", {"a", "l"}));
    EXPECT_FALSE(safe("", {"a", "l"}));
    EXPECT_FALSE(safe("x", {}));
}

// Windows writes link targets with backslashes and drives. Linux would read
// each as one harmless name, but a Windows program following the link (Wine,
// a share the folder is served on) goes where Windows goes.
TEST(PathSanitizerAttack, WindowsStyleLinkTargetsAreAbsoluteOrClimb) {
    struct Case {
        std::string target;
        Parts linkAt;
        bool safe;
    };
    const Case cases[] = {
        {"C:\\Windows\\System32", {"a", "l"}, false},
        {"c:/Users", {"a", "l"}, false},
        {"Z:relative-to-drive", {"a", "l"}, false},
        {"\\??\\C:\\x", {"a", "l"}, false},
        {"/?\?/C:/x", {"a", "l"}, false},
        {"\\\\server\\share", {"a", "l"}, false},
        {"\\root", {"a", "l"}, false},
        {"..\\..\\x", {"a", "l"}, false},
        {"..\\x", {"a", "l"}, true},
        {"sub\\..\\..\\x", {"a", "b", "l"}, false},
        {"..\\../x", {"a", "b", "l"}, true},
        {"sub\\x", {"l"}, true},
        // Only an ASCII letter names a drive.
        {"1:x", {"l"}, true},
        {"\xC3\xA9:x", {"l"}, true},
        {"a", {"l"}, true},
    };
    for (const Case& item : cases) {
        EXPECT_EQ(safe(item.target, item.linkAt), item.safe) << item.target;
    }
    EXPECT_FALSE(PathSanitizer::staysInTopLevelItem("..\\..\\x", Parts{"top", "sub", "l"}));
    EXPECT_TRUE(PathSanitizer::staysInTopLevelItem("..\\x", Parts{"top", "sub", "l"}));
}

TEST(PathSanitizerAttack, LinkTargetWithNulBecomesParent) {
    EXPECT_FALSE(safe("..\0"s, {"l"}));
    EXPECT_FALSE(safe("../..\0x"s, {"a", "l"}));
}

TEST(PathSanitizerAttack, LinkThatLeavesItsTopLevelItemOnceItStandsAlone) {
    using PathSanitizer::staysInTopLevelItem;
    // The top-level item itself is a link: alone, it points beside itself.
    EXPECT_FALSE(staysInTopLevelItem(".ssh/id_rsa", Parts{"report.pdf"}));
    EXPECT_FALSE(staysInTopLevelItem("x", Parts{"l"}));
    // Climbing to the top-level item's own level, or reaching it with ".".
    EXPECT_FALSE(staysInTopLevelItem("..", Parts{"top", "up"}));
    EXPECT_FALSE(staysInTopLevelItem("../../x", Parts{"top", "sub", "l"}));
    EXPECT_FALSE(staysInTopLevelItem("x/../../..", Parts{"top", "sub", "l"}));
    EXPECT_TRUE(staysInTopLevelItem("../x", Parts{"top", "sub", "l"}));
    EXPECT_TRUE(staysInTopLevelItem("./a/../b", Parts{"top", "l"}));
    EXPECT_TRUE(staysInTopLevelItem("x//y/", Parts{"top", "l"}));
}

}  // namespace
}  // namespace tovani
