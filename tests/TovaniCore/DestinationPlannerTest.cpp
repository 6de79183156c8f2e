#include "TovaniCore/DestinationPlanner.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace tovani {
namespace {

using DestinationPlanner::candidateName;
using DestinationPlanner::folderName;
using DestinationPlanner::uniqueName;

TEST(DestinationPlanner, FolderNameStripsArchiveThenPartSuffix) {
    EXPECT_EQ(folderName("Photos.rar"), "Photos");
    EXPECT_EQ(folderName("Photos.RAR"), "Photos");
    EXPECT_EQ(folderName("Movie.part01.rar"), "Movie");
    EXPECT_EQ(folderName("Movie.PART3.RAR"), "Movie");
    EXPECT_EQ(folderName("backup.r00"), "backup");
    EXPECT_EQ(folderName("backup.Z99"), "backup");
    EXPECT_EQ(folderName("notes.txt.rar"), "notes.txt");
    EXPECT_EQ(folderName("a.rar.rar"), "a.rar");
    EXPECT_EQ(folderName("a.part1.part2.rar"), "a.part1");
}

// Every format's suffixes, compound ones whole; a single compressed file
// loses its compression's suffix only.
TEST(DestinationPlanner, FolderNameStripsEachFormatsSuffixes) {
    struct Case {
        const char* name;
        const char* folder;
    };
    const Case cases[] = {
        {"photos.zip", "photos"},
        {"photos.7z", "photos"},
        {"photos.tar", "photos"},
        {"photos.cpio", "photos"},
        {"photos.tar.gz", "photos"},
        {"photos.tgz", "photos"},
        {"photos.tar.bz2", "photos"},
        {"photos.tbz2", "photos"},
        {"photos.tbz", "photos"},
        {"photos.tar.xz", "photos"},
        {"photos.txz", "photos"},
        {"photos.tar.zst", "photos"},
        {"photos.tzst", "photos"},
        {"photos.tar.lz4", "photos"},
        {"photos.tar.lzma", "photos"},
        {"photos.cpio.gz", "photos"},
        {"photos.7z.001", "photos"},
        {"photos.zip.001", "photos"},
        {"photos.tar.gz.001", "photos"},
        {"photos.7z.0042", "photos"},
        {"Photos.TAR.GZ", "Photos"},
        {"Photos.ZIP", "Photos"},
        {"notes.txt.gz", "notes.txt"},
        {"notes.txt.bz2", "notes.txt"},
        {"notes.txt.xz", "notes.txt"},
        {"notes.txt.lzma", "notes.txt"},
        {"notes.txt.zst", "notes.txt"},
        {"notes.txt.lz4", "notes.txt"},
        // One archive suffix, as for RAR.
        {"a.zip.zip", "a.zip"},
        {"a.tar.gz.gz", "a.tar.gz"},
        {"a.tar.tar", "a.tar"},
        {"a.zip.gz", "a.zip"},
        // RAR naming as before, also behind a byte split.
        {"movie.part01.rar", "movie"},
        {"movie.rar.001", "movie"},
        {"backup.r00", "backup"},
        // Nothing left, or only a hidden name: never a hidden folder.
        {".tar.gz", "Archive"},
        {".7z.001", "Archive"},
        {".ssh.zip", "ssh"},
        {"..config.tar.xz", "config"},
        // Neither a suffix nor a part.
        {"photos.gzip", "photos.gzip"},
        {"photos.7z.01", "photos.7z.01"},
        {"photos.7z.000", "photos.7z.000"},
        {"photos.targz", "photos.targz"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(folderName(c.name), c.folder) << c.name;
    }
}

TEST(DestinationPlanner, FolderNameLeavesOtherNames) {
    EXPECT_EQ(folderName("set.part2"), "set");
    EXPECT_EQ(folderName("movie.q01"), "movie.q01");
    EXPECT_EQ(folderName("movie.r0"), "movie.r0");
    EXPECT_EQ(folderName("rar"), "rar");
    EXPECT_EQ(folderName("set.parts.rar"), "set.parts");
}

TEST(DestinationPlannerAttack, FolderNameIsNeverHidden) {
    EXPECT_EQ(folderName(".ssh.rar"), "ssh");
    EXPECT_EQ(folderName("..config.part1.rar"), "config");
    EXPECT_EQ(folderName(".a.b"), "a.b");
    EXPECT_EQ(folderName("x.y.rar"), "x.y");
}

TEST(DestinationPlanner, FolderNameFallsBackToArchive) {
    for (const char* name : {".rar", ".part1.rar", "", ".r00", "..rar", "...rar", "..part1.rar"}) {
        EXPECT_EQ(folderName(name), "Archive") << name;
    }
}

TEST(DestinationPlanner, CandidateNamesInsertTheNumberBeforeTheExtension) {
    EXPECT_EQ(candidateName("report.pdf", false, 1), "report.pdf");
    EXPECT_EQ(candidateName("report.pdf", false, 0), "report.pdf");
    EXPECT_EQ(candidateName("report.pdf", false, -5), "report.pdf");
    EXPECT_EQ(candidateName("report.pdf", false, 2), "report 2.pdf");
    EXPECT_EQ(candidateName("report.pdf", false, 10), "report 10.pdf");
    EXPECT_EQ(candidateName("archive.tar.gz", false, 2), "archive.tar 2.gz");
    EXPECT_EQ(candidateName("README", false, 2), "README 2");
    EXPECT_EQ(candidateName("Photos.2024", true, 3), "Photos.2024 3");
    EXPECT_EQ(candidateName("Photos.2024", true, 1), "Photos.2024");
}

TEST(DestinationPlanner, UnusualNamesHaveNoExtension) {
    EXPECT_EQ(candidateName(".profile", false, 2), ".profile 2");
    EXPECT_EQ(candidateName("..rc", false, 2), "..rc 2");
    EXPECT_EQ(candidateName("name.", false, 2), "name. 2");
    EXPECT_EQ(candidateName("...", false, 2), "... 2");
    EXPECT_EQ(candidateName(".config.json", false, 2), ".config 2.json");
    EXPECT_EQ(candidateName("a..b", false, 2), "a. 2.b");
}

// A numbered name must still fit in 255 bytes, or the copy beside a file
// with a long name fails with "File name too long".
TEST(DestinationPlanner, NumberedNamesFitIn255BytesCutOnACharacter) {
    auto repeat = [](const std::string& text, int count) {
        std::string out;
        for (int i = 0; i < count; ++i) {
            out += text;
        }
        return out;
    };
    const std::string e = "\xC3\xA9";  // two bytes
    struct Case {
        std::string name;
        bool isDirectory;
        std::int64_t attempt;
        std::string expected;
    };
    const Case cases[] = {
        {std::string(251, 'a') + ".txt", false, 2, std::string(249, 'a') + " 2.txt"},
        {std::string(250, 'a') + ".txt", false, 2, std::string(249, 'a') + " 2.txt"},
        {std::string(249, 'a') + ".txt", false, 2, std::string(249, 'a') + " 2.txt"},
        {repeat(e, 125) + ".txt", false, 2, repeat(e, 124) + " 2.txt"},
        {repeat(e, 127) + "x", true, 10, repeat(e, 126) + " 10"},
        {"a." + std::string(253, 'b'), false, 2, "a." + std::string(251, 'b') + " 2"},
        {repeat("\xF0\x9F\x98\x80", 63) + "abc", false, 123,
         repeat("\xF0\x9F\x98\x80", 62) + " 123"},
    };
    for (const Case& c : cases) {
        const std::string name = candidateName(c.name, c.isDirectory, c.attempt);
        EXPECT_EQ(name, c.expected) << c.name.size() << " bytes";
        EXPECT_LE(name.size(), 255u);
    }
}

TEST(DestinationPlanner, UniqueNameReturnsFirstFreeCandidate) {
    std::set<std::string> taken{"report.pdf", "report 2.pdf"};
    std::vector<std::string> asked;
    auto isTaken = [&](const std::string& name) {
        asked.push_back(name);
        return taken.count(name) > 0;
    };
    EXPECT_EQ(uniqueName("report.pdf", false, isTaken), "report 3.pdf");
    EXPECT_EQ(asked, (std::vector<std::string>{"report.pdf", "report 2.pdf", "report 3.pdf"}));
    EXPECT_EQ(uniqueName("report.pdf", false, [](const std::string&) { return false; }),
              "report.pdf");
    EXPECT_EQ(
        uniqueName("Photos.2024", true, [](const std::string& n) { return n == "Photos.2024"; }),
        "Photos.2024 2");
}

}  // namespace
}  // namespace tovani
