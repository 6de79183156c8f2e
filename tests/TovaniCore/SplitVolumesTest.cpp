#include "TovaniCore/SplitVolumes.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/TempDirectory.h"

namespace tovani::testing {
namespace {

namespace fs = std::filesystem;

TEST(SplitVolumes, NamesTheFirstAndNextPart) {
    struct Case {
        std::string name;
        std::optional<std::string> first;
        std::optional<std::string> next;
    };
    const std::vector<Case> cases = {
        {"photos.7z.001", "photos.7z.001", "photos.7z.002"},
        {"photos.7z.003", "photos.7z.001", "photos.7z.004"},
        {"photos.zip.009", "photos.zip.001", "photos.zip.010"},
        {"photos.tar.099", "photos.tar.001", "photos.tar.100"},
        {"photos.7z.999", "photos.7z.001", "photos.7z.1000"},
        {"photos.7z.1000", "photos.7z.0001", "photos.7z.1001"},
        {"photos.7z.0042", "photos.7z.0001", "photos.7z.0043"},
        {"PHOTOS.7Z.002", "PHOTOS.7Z.001", "PHOTOS.7Z.003"},
        {"a.001", "a.001", "a.002"},
        // Names with a line break or spaces are names like any other.
        {"two\nlines.7z.002", "two\nlines.7z.001", "two\nlines.7z.003"},
        // No part: all zeros, fewer than three digits, no period, no name.
        {"photos.7z.000", std::nullopt, std::nullopt},
        {"photos.7z.01", std::nullopt, std::nullopt},
        {"photos.7z", std::nullopt, std::nullopt},
        {"photos001", std::nullopt, std::nullopt},
        {".001", std::nullopt, std::nullopt},
        {"001", std::nullopt, std::nullopt},
        {"set.part001.rar", std::nullopt, std::nullopt},
        {"set.001.rar", std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SplitVolumes::firstVolumeName(c.name), c.first) << c.name;
        EXPECT_EQ(SplitVolumes::nextVolumeName(c.name), c.next) << c.name;
        EXPECT_EQ(SplitVolumes::isPartName(c.name), c.first.has_value()) << c.name;
    }
}

TEST(SplitVolumes, VolumesFromStopAtTheFirstGap) {
    TempDirectory dir;
    for (const char* name : {"p.7z.001", "p.7z.002", "p.7z.003", "p.7z.005"}) {
        writeFile(dir / name, "x");
    }
    EXPECT_EQ(SplitVolumes::volumesFrom(dir / "p.7z.001"),
              (std::vector<fs::path>{dir / "p.7z.001", dir / "p.7z.002", dir / "p.7z.003"}));
    EXPECT_EQ(SplitVolumes::volumesFrom(dir / "p.7z.002"),
              (std::vector<fs::path>{dir / "p.7z.002", dir / "p.7z.003"}));
    EXPECT_EQ(SplitVolumes::volumesFrom(dir / "p.7z"), (std::vector<fs::path>{dir / "p.7z"}));
    EXPECT_EQ(SplitVolumes::firstVolume(dir / "p.7z.005"), dir / "p.7z.001");
    EXPECT_EQ(SplitVolumes::firstVolume(dir / "p.7z"), dir / "p.7z");
}

}  // namespace
}  // namespace tovani::testing
