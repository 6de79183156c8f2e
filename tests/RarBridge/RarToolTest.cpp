#include <gtest/gtest.h>

#include <stdexcept>

#include "support/RarTool.h"
#include "support/RarWriter.h"
#include "support/TempDirectory.h"

namespace tovani::testing {
namespace {

TEST(RarTool, FailureCarriesTheToolsOutput) {
    TempDirectory dir;
    try {
        rar(dir.path(), "x.rar", {}, {"no-such-input"});
        FAIL() << "rar succeeded";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("no-such-input"), std::string::npos)
            << error.what();
    }
}

TEST(RarTool, VolumeFilesOfASingleArchiveIsThatArchive) {
    TempDirectory dir;
    makeTree(dir.path(), {{"a.txt", "a"}});
    const std::filesystem::path archive = rar(dir.path(), "one.rar", {}, {"a.txt"});
    EXPECT_EQ(archive, dir / "one.rar");
    EXPECT_EQ(volumeFiles(archive), std::vector<std::filesystem::path>{archive});
}

TEST(RarWriter, Crc32MatchesTheStandardCheckValue) {
    EXPECT_EQ(crc32Of("123456789"), 0xCBF43926u);
    EXPECT_EQ(crc32Of(""), 0u);
}

TEST(RarWriter, OldStyleVolumeNames) {
    EXPECT_EQ(oldStyleVolumeName("/t/name.rar", 0), "/t/name.rar");
    EXPECT_EQ(oldStyleVolumeName("/t/name.rar", 1), "/t/name.r00");
    EXPECT_EQ(oldStyleVolumeName("/t/name.rar", 12), "/t/name.r11");
}

}  // namespace
}  // namespace tovani::testing
