#include "TovaniCore/VolumeResolver.h"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "support/TempDirectory.h"

namespace tovani {
namespace {

using VolumeResolver::firstVolume;
using VolumeResolver::firstVolumeName;

TEST(VolumeResolver, NumberedVolumesKeepWidthAndCase) {
    EXPECT_EQ(firstVolumeName("Movie.part02.rar"), "Movie.part01.rar");
    EXPECT_EQ(firstVolumeName("Movie.part1.rar"), "Movie.part1.rar");
    EXPECT_EQ(firstVolumeName("Movie.PART10.RAR"), "Movie.PART01.RAR");
    EXPECT_EQ(firstVolumeName("Movie.Part7.Rar"), "Movie.Part1.Rar");
    EXPECT_EQ(firstVolumeName("backup.part0003.rar"), "backup.part0001.rar");
    EXPECT_EQ(firstVolumeName("backup.part0.rar"), "backup.part1.rar");
    EXPECT_EQ(firstVolumeName("set.part12.rar"), "set.part01.rar");
    EXPECT_EQ(firstVolumeName(".part5.rar"), ".part1.rar");
}

TEST(VolumeResolver, StemIsGreedy) {
    EXPECT_EQ(firstVolumeName("a.b.part3.rar"), "a.b.part1.rar");
    EXPECT_EQ(firstVolumeName("a.part9.part3.rar"), "a.part9.part1.rar");
    EXPECT_EQ(firstVolumeName("x.part2.rar.r00"), "x.part2.rar.rar");
}

TEST(VolumeResolver, LetteredVolumesTakeTheLetterCase) {
    EXPECT_EQ(firstVolumeName("movie.r00"), "movie.rar");
    EXPECT_EQ(firstVolumeName("movie.s12"), "movie.rar");
    EXPECT_EQ(firstVolumeName("movie.z99"), "movie.rar");
    EXPECT_EQ(firstVolumeName("MOVIE.R05"), "MOVIE.RAR");
    EXPECT_EQ(firstVolumeName("movie.R05"), "movie.RAR");
    EXPECT_EQ(firstVolumeName("MOVIE.r05"), "MOVIE.rar");
    EXPECT_EQ(firstVolumeName(".r00"), ".rar");
}

// name.000.rar, name.001.rar ...: the library counts up the digits before
// ".rar" whatever comes ahead of them; after a bare period it takes three.
TEST(VolumeResolver, NumbersBeforeTheExtensionCountLikeTheLibrary) {
    using VolumeResolver::nextVolumeName;
    EXPECT_EQ(firstVolumeName("set.000.rar"), "set.000.rar");
    EXPECT_EQ(firstVolumeName("set.001.rar"), "set.001.rar");
    EXPECT_EQ(firstVolumeName("set.017.rar"), "set.001.rar");
    EXPECT_EQ(firstVolumeName("Set.0042.RAR"), "Set.0001.RAR");
    EXPECT_EQ(nextVolumeName("set.000.rar"), "set.001.rar");
    EXPECT_EQ(nextVolumeName("set.009.rar"), "set.010.rar");
    EXPECT_EQ(nextVolumeName("set.999.rar"), "set.1000.rar");
    // Fewer digits are more often two archives than one set.
    EXPECT_EQ(firstVolumeName("notes.2.rar"), std::nullopt);
    EXPECT_EQ(firstVolumeName("notes.12.rar"), std::nullopt);
    EXPECT_EQ(nextVolumeName("notes.12.rar"), "notes.12.r00");
}

TEST(VolumeResolver, ANumberedSetStartsAtZeroWhenThatVolumeExists) {
    testing::TempDirectory dir;
    for (const char* name :
         {"zero.000.rar", "zero.001.rar", "zero.002.rar", "one.001.rar", "one.002.rar"}) {
        std::ofstream(dir / name) << "x";
    }
    EXPECT_EQ(firstVolume(dir / "zero.002.rar"), dir / "zero.000.rar");
    EXPECT_EQ(firstVolume(dir / "zero.000.rar"), dir / "zero.000.rar");
    EXPECT_EQ(firstVolume(dir / "one.002.rar"), dir / "one.001.rar");
    using Files = std::vector<std::filesystem::path>;
    EXPECT_EQ(VolumeResolver::volumesFrom(dir / "zero.000.rar"),
              (Files{dir / "zero.000.rar", dir / "zero.001.rar", dir / "zero.002.rar"}));
}

TEST(VolumeResolver, OtherNamesFollowNoScheme) {
    for (const char* name : {"movie.rar", "movie.zip", "movie.q01", "movie.r0", "movie.part1",
                             "movie.parta.rar", "moviepart2.rar", "movie.r001", "r00", "",
                             "movie.\xC5\xBF"
                             "00",
                             "movie.part\xD9\xA1.rar"}) {
        EXPECT_EQ(firstVolumeName(name), std::nullopt) << name;
    }
}

TEST(VolumeResolver, FirstVolumeReplacesOnlyTheLastComponent) {
    EXPECT_EQ(firstVolume("/data/set.part3.rar"), "/data/set.part1.rar");
    EXPECT_EQ(firstVolume("/no/such/dir.r00/movie.r07"), "/no/such/dir.r00/movie.rar");
    EXPECT_EQ(firstVolume("set.part3.rar"), "set.part1.rar");
}

TEST(VolumeResolver, FirstVolumeReturnsOtherFilesUnchanged) {
    for (const char* file : {"/data/Movie.part1.rar", "/data/movie.rar", "/data/movie.zip",
                             "/data/set.part3.rar/", "/"}) {
        EXPECT_EQ(firstVolume(file), file) << file;
    }
}

// The library names the next volume this way; a mismatch would make the
// decoder refuse a volume of a good set.
TEST(VolumeResolver, NextVolumeCountsUpLikeTheLibrary) {
    using VolumeResolver::nextVolumeName;
    EXPECT_EQ(nextVolumeName("movie.part1.rar"), "movie.part2.rar");
    EXPECT_EQ(nextVolumeName("movie.part09.rar"), "movie.part10.rar");
    EXPECT_EQ(nextVolumeName("movie.part9.rar"), "movie.part10.rar");
    EXPECT_EQ(nextVolumeName("movie.part99.rar"), "movie.part100.rar");
    EXPECT_EQ(nextVolumeName("Movie.PART19.RAR"), "Movie.PART20.RAR");
    EXPECT_EQ(nextVolumeName("movie.rar"), "movie.r00");
    EXPECT_EQ(nextVolumeName("MOVIE.RAR"), "MOVIE.R00");
    EXPECT_EQ(nextVolumeName("movie.r00"), "movie.r01");
    EXPECT_EQ(nextVolumeName("movie.r09"), "movie.r10");
    EXPECT_EQ(nextVolumeName("movie.r99"), "movie.s00");
    EXPECT_EQ(nextVolumeName("MOVIE.R99"), "MOVIE.S00");
    EXPECT_EQ(nextVolumeName("movie.z99"), std::nullopt);
    EXPECT_EQ(nextVolumeName("movie.zip"), std::nullopt);
    EXPECT_EQ(nextVolumeName("movie"), std::nullopt);
}

TEST(VolumeResolver, VolumesFromStopAtTheFirstGap) {
    testing::TempDirectory dir;
    for (const char* name : {"set.part1.rar", "set.part2.rar", "set.part4.rar", "old.rar",
                             "old.r00", "old.r01", "lone.zip"}) {
        std::ofstream(dir / name) << "x";
    }
    using Files = std::vector<std::filesystem::path>;
    EXPECT_EQ(VolumeResolver::volumesFrom(dir / "set.part1.rar"),
              (Files{dir / "set.part1.rar", dir / "set.part2.rar"}));
    EXPECT_EQ(VolumeResolver::volumesFrom(dir / "set.part2.rar"), (Files{dir / "set.part2.rar"}));
    EXPECT_EQ(VolumeResolver::volumesFrom(dir / "old.rar"),
              (Files{dir / "old.rar", dir / "old.r00", dir / "old.r01"}));
    EXPECT_EQ(VolumeResolver::volumesFrom(dir / "lone.zip"), (Files{dir / "lone.zip"}));
}

}  // namespace
}  // namespace tovani
