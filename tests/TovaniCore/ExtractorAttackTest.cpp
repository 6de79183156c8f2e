// Hostile archives through the whole pipeline. Each test is named after the
// attack it stops; after each, the destination holds what it held before
// plus at most the one output, and nothing outside it changed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "TovaniCore/ExtractorHarness.h"
#include "support/RarTool.h"
#include "support/RarWriter.h"

namespace tovani::testing {
namespace {

namespace fs = std::filesystem;
using E = ExtractionError;
using R = SkippedEntry::Reason;

class ExtractorAttack : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(destination);
        writeFile(victim, "untouched");
        outsideBefore = treeOf(h.dir / "outside");
    }
    void TearDown() override {
        EXPECT_EQ(treeOf(h.dir / "outside"), outsideBefore);
        EXPECT_EQ(readFile(victim), "untouched");
    }

    Outcome extract(const std::vector<StoredEntry>& entries) {
        writeRar5(archive, entries);
        return h.extract(archive, ExtractionOptions{true, destination});
    }

    ExtractorHarness h;
    const fs::path archive = h.dir / "hostile.rar";
    const fs::path destination = h.dir / "out";
    const fs::path victim = h.dir / "outside" / "victim.txt";
    std::set<std::string> outsideBefore;
};

TEST_F(ExtractorAttack, DotDotAndAbsoluteEntryPathsAreRefusedUpFront) {
    EXPECT_EQ(extract({StoredEntry::file("../outside/victim.txt", "owned")}).error(),
              E::unsafePath("../outside/victim.txt"));
    EXPECT_EQ(extract({StoredEntry::file(victim.string(), "owned")}).error(),
              E::unsafePath(victim.string()));
    EXPECT_EQ(h.engine->extracts, 0);
}

TEST_F(ExtractorAttack, SymlinkThenEntryThroughIt) {
    Outcome outcome = extract({StoredEntry::link(Redirection::unixSymlink, "l", "sub"),
                               StoredEntry::directory("sub"),
                               StoredEntry::file("l/file.txt", "through the link")});
    EXPECT_EQ(outcome.error(), E::unsafePath("l/file.txt"));
}

TEST_F(ExtractorAttack, SymlinkToOutsideThenRegularFileOfTheSameName) {
    Outcome outcome = extract(
        {StoredEntry::link(Redirection::unixSymlink, "victim.txt", "../../outside/victim.txt"),
         StoredEntry::file("victim.txt", "owned")});
    ASSERT_TRUE(outcome.succeeded()) << outcome.error();
    EXPECT_EQ(readFile(outcome.output() / "victim.txt"), "owned");
    EXPECT_FALSE(fs::is_symlink(outcome.output() / "victim.txt"));
    EXPECT_EQ(outcome.result().skipped(),
              (std::vector<SkippedEntry>{{"victim.txt", R::unsafeLinkTarget}}));
}

// RAR 1.5-4.x links carry their target as their data; once read, it is
// judged exactly as a RAR 5 link's.
TEST_F(ExtractorAttack, OldFormatSymlinkToOutsideThenRegularFileOfTheSameName) {
    writeRar4(archive, {StoredEntry::rar4Symlink("victim.txt", "../../outside/victim.txt"),
                        StoredEntry::file("victim.txt", "owned"),
                        StoredEntry::rar4Symlink("up", "../outside"),
                        StoredEntry::rar4Symlink("inside", "victim.txt")});
    Outcome outcome = h.extract(archive, ExtractionOptions{true, destination});
    ASSERT_TRUE(outcome.succeeded()) << outcome.error();
    EXPECT_EQ(readFile(outcome.output() / "victim.txt"), "owned");
    EXPECT_FALSE(fs::is_symlink(outcome.output() / "victim.txt"));
    EXPECT_EQ(fs::read_symlink(outcome.output() / "inside"), "victim.txt");
    EXPECT_EQ(outcome.result().skipped(),
              (std::vector<SkippedEntry>{{"victim.txt", R::unsafeLinkTarget},
                                         {"up", R::unsafeLinkTarget}}));
}

TEST_F(ExtractorAttack, SafeSymlinkReplacedByFileIsNeverWrittenThrough) {
    Outcome outcome = extract({StoredEntry::file("target.txt", "original"),
                               StoredEntry::link(Redirection::unixSymlink, "l", "target.txt"),
                               StoredEntry::file("l", "replacement")});
    ASSERT_TRUE(outcome.succeeded()) << outcome.error();
    EXPECT_EQ(readFile(outcome.output() / "target.txt"), "original");
    EXPECT_EQ(readFile(outcome.output() / "l"), "replacement");
    EXPECT_FALSE(fs::is_symlink(outcome.output() / "l"));
}

TEST_F(ExtractorAttack, LinkChainsThatClimbThroughOtherLinks) {
    Outcome outcome = extract({
        StoredEntry::link(Redirection::unixSymlink, "cur", "."),
        StoredEntry::link(Redirection::unixSymlink, "par", "cur/.."),
        StoredEntry::directory("dir"),
        StoredEntry::link(Redirection::unixSymlink, "dir/l1", ".."),
        StoredEntry::link(Redirection::unixSymlink, "dir/l2", "l1/.."),
        StoredEntry::file("par/escape.txt", "stays inside"),
    });
    ASSERT_TRUE(outcome.succeeded()) << outcome.error();
    EXPECT_EQ(
        outcome.result().skipped(),
        (std::vector<SkippedEntry>{{"par", R::unsafeLinkTarget}, {"dir/l2", R::unsafeLinkTarget}}));
    EXPECT_EQ(fs::read_symlink(outcome.output() / "cur"), ".");
    EXPECT_EQ(fs::read_symlink(outcome.output() / "dir/l1"), "..");
    EXPECT_EQ(readFile(outcome.output() / "par/escape.txt"), "stays inside");
    EXPECT_FALSE(fs::is_symlink(outcome.output() / "par"));
}

TEST_F(ExtractorAttack, EntryThroughASafeDotLinkIsRefused) {
    Outcome outcome = extract({StoredEntry::link(Redirection::unixSymlink, "cur", "."),
                               StoredEntry::file("cur/x", "via link")});
    EXPECT_EQ(outcome.error(), E::unsafePath("cur/x"));
}

TEST_F(ExtractorAttack, DoubledSeparatorsInALinkNameGiveNoExtraClimb) {
    Outcome outcome = extract({StoredEntry::link(Redirection::unixSymlink, "a//////l", "../../x"),
                               StoredEntry::link(Redirection::unixSymlink, "b//l", "../y")});
    ASSERT_TRUE(outcome.succeeded()) << outcome.error();
    EXPECT_EQ(outcome.result().skipped(),
              (std::vector<SkippedEntry>{{"a//////l", R::unsafeLinkTarget}}));
    EXPECT_EQ(fs::read_symlink(outcome.output() / "b/l"), "../y");
}

TEST_F(ExtractorAttack, HardLinksAndCopiesToLinksDirectoriesAndOutsideAreSkipped) {
    for (Redirection kind : {Redirection::hardLink, Redirection::fileCopy}) {
        SCOPED_TRACE(static_cast<int>(kind));
        Outcome outcome = extract({
            StoredEntry::directory("d"),
            StoredEntry::file("f", "data"),
            StoredEntry::link(Redirection::unixSymlink, "s", "f"),
            StoredEntry::link(kind, "to-link", "s"),
            StoredEntry::link(kind, "to-dir", "d"),
            StoredEntry::link(kind, "to-outside", "../outside/victim.txt"),
            StoredEntry::link(kind, "to-absolute", victim.string()),
            StoredEntry::link(kind, "to-file", "f"),
        });
        ASSERT_TRUE(outcome.succeeded()) << outcome.error();
        EXPECT_EQ(outcome.result().skipped(),
                  (std::vector<SkippedEntry>{{"to-link", R::unsafeLinkTarget},
                                             {"to-dir", R::unsafeLinkTarget},
                                             {"to-outside", R::unsafeLinkTarget},
                                             {"to-absolute", R::unsafeLinkTarget}}));
        EXPECT_EQ(readFile(outcome.output() / "to-file"), "data");
        fs::remove_all(outcome.output());
    }
}

TEST_F(ExtractorAttack, HardLinkOrCopyToAnUndeliveredPathIsDamage) {
    EXPECT_EQ(extract({StoredEntry::link(Redirection::hardLink, "h", "never/delivered")}).error(),
              E::damaged("h"));
    EXPECT_EQ(extract({StoredEntry::link(Redirection::fileCopy, "c", "missing")}).error(),
              E::damaged("c"));
}

TEST_F(ExtractorAttack, DirectoryEntryOverAnExtractedSymlink) {
    Outcome outcome = extract({StoredEntry::directory("real"),
                               StoredEntry::link(Redirection::unixSymlink, "l", "real"),
                               StoredEntry::directory("l")});
    EXPECT_EQ(outcome.error(), E::unsafePath("l"));
}

TEST_F(ExtractorAttack, DuplicateFileNamesKeepTheLastOne) {
    Outcome outcome =
        extract({StoredEntry::file("same.txt", "first"), StoredEntry::file("same.txt", "second")});
    ASSERT_TRUE(outcome.succeeded()) << outcome.error();
    EXPECT_EQ(readFile(outcome.output() / "same.txt"), "second");
}

TEST_F(ExtractorAttack, SetuidAndSetgidBitsAreDropped) {
    StoredEntry tool = StoredEntry::file("tool", "#!/bin/sh\n");
    tool.attributes = 0106755;
    StoredEntry shared = StoredEntry::directory("shared");
    shared.attributes = 043777;
    Outcome outcome = extract({tool, shared});
    ASSERT_TRUE(outcome.succeeded()) << outcome.error();
    struct stat info {};
    ASSERT_EQ(::stat((outcome.output() / "tool").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07000, 0u);
    ASSERT_EQ(::stat((outcome.output() / "shared").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07000, 0u);
}

TEST_F(ExtractorAttack, RealSymlinksMadeByTheRarToolAreJudgedToo) {
    fs::create_directories(h.dir / "src/tree");
    writeFile(h.dir / "src/tree/file.txt", "content");
    fs::create_symlink("file.txt", h.dir / "src/tree/inside");
    fs::create_symlink(victim, h.dir / "src/tree/outside");
    fs::path made = rar(h.dir / "src", (h.dir / "links.rar").string(), {"-ol"}, {"tree"});
    Outcome outcome = h.extract(made, ExtractionOptions{false, destination});
    ASSERT_TRUE(outcome.succeeded()) << outcome.error();
    EXPECT_EQ(outcome.output(), destination / "tree");
    EXPECT_EQ(fs::read_symlink(destination / "tree/inside"), "file.txt");
    EXPECT_FALSE(fs::exists(fs::symlink_status(destination / "tree/outside")));
    EXPECT_EQ(outcome.result().skipped(),
              (std::vector<SkippedEntry>{{"tree/outside", R::unsafeLinkTarget}}));
}

TEST_F(ExtractorAttack, LinkToTheOutputRootEscapesOnceTheSingleItemMovesAlone) {
    // Inside the staging folder "top/up -> .." is harmless; moved out on its
    // own, top would carry a link to the destination itself.
    writeRar5(archive, {StoredEntry::directory("top"), StoredEntry::file("top/a", "1"),
                        StoredEntry::link(Redirection::unixSymlink, "top/up", "..")});
    Outcome climbing = h.extract(archive, ExtractionOptions{false, destination});
    ASSERT_TRUE(climbing.succeeded()) << climbing.error();
    EXPECT_EQ(climbing.output(), destination / "hostile");
    EXPECT_EQ(fs::read_symlink(destination / "hostile/top/up"), "..");

    writeRar5(archive, {StoredEntry::link(Redirection::unixSymlink, "self", ".")});
    Outcome self = h.extract(archive, ExtractionOptions{false, destination});
    ASSERT_TRUE(self.succeeded()) << self.error();
    EXPECT_EQ(self.output(), destination / "hostile 2");
    EXPECT_EQ(fs::read_symlink(destination / "hostile 2/self"), ".");

    writeRar5(archive, {StoredEntry::directory("top"), StoredEntry::file("top/a", "1"),
                        StoredEntry::link(Redirection::unixSymlink, "top/sub/here", "../a")});
    Outcome inside = h.extract(archive, ExtractionOptions{false, destination});
    ASSERT_TRUE(inside.succeeded()) << inside.error();
    EXPECT_EQ(inside.output(), destination / "top");
}

}  // namespace
}  // namespace tovani::testing
