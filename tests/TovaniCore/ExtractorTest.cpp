#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <sstream>

#include "TovaniCore/ExtractorHarness.h"
#include "TovaniCore/FileSystemPlatform.h"
#include "support/OtherUser.h"
#include "support/RarTool.h"
#include "support/RarWriter.h"
#include "support/Tmpfs.h"

namespace tovani::testing {
namespace {

namespace fs = std::filesystem;
using E = ExtractionError;

using ExtractorTest = ExtractorFixture;

TEST_F(ExtractorTest, SingleTopLevelFolderComesOutUnderItsOwnName) {
    makeTree(dir / "src", {{"Photos/a.jpg", "a"}, {"Photos/sub/b.jpg", "bb"}});
    fs::path archive = rar(dir / "src", (dir / "holiday.rar").string(), {}, {"Photos"});
    Outcome outcome = h.extract(archive);
    ASSERT_TRUE(outcome.succeeded()) << outcome.error();
    EXPECT_EQ(outcome.output(), dir / "Photos");
    EXPECT_EQ(treeOf(dir / "Photos"), (std::set<std::string>{"a.jpg", "sub/", "sub/b.jpg"}));
    EXPECT_EQ(readFile(dir / "Photos/sub/b.jpg"), "bb");
    EXPECT_EQ(outcome.result().archiveFiles(), std::vector<fs::path>{archive});
}

TEST_F(ExtractorTest, SingleTopLevelFileComesOutOnItsOwn) {
    writeRar5(dir / "notes.rar", {StoredEntry::file("notes.txt", "hello")});
    Outcome outcome = h.extract(dir / "notes.rar");
    ASSERT_TRUE(outcome.succeeded()) << outcome.error();
    EXPECT_EQ(outcome.output(), dir / "notes.txt");
    EXPECT_EQ(readFile(outcome.output()), "hello");
}

TEST_F(ExtractorTest, SeveralTopLevelItemsOrAlwaysCreateFolderMakeAFolderNamedAfterTheArchive) {
    writeRar5(dir / "Mixed.part1.rar",
              {StoredEntry::file("a.txt", "a"), StoredEntry::file("b.txt", "b")});
    writeRar5(dir / "one.rar", {StoredEntry::file("only.txt", "x")});

    Outcome several = h.extract(dir / "Mixed.part1.rar");
    ASSERT_TRUE(several.succeeded()) << several.error();
    EXPECT_EQ(several.output(), dir / "Mixed");
    EXPECT_EQ(treeOf(dir / "Mixed"), (std::set<std::string>{"a.txt", "b.txt"}));

    Outcome folder = h.extract(dir / "one.rar", ExtractionOptions{true, std::nullopt});
    ASSERT_TRUE(folder.succeeded()) << folder.error();
    EXPECT_EQ(folder.output(), dir / "one");
    EXPECT_EQ(treeOf(dir / "one"), std::set<std::string>{"only.txt"});
}

TEST_F(ExtractorTest, EmptyArchiveOrOnlySkippedLinksGiveAnEmptyFolder) {
    writeRar5(dir / "empty.rar", {});
    writeRar5(dir / "links.rar",
              {StoredEntry::link(Redirection::unixSymlink, "escape", "/etc/passwd")});

    Outcome empty = h.extract(dir / "empty.rar");
    ASSERT_TRUE(empty.succeeded()) << empty.error();
    EXPECT_EQ(empty.output(), dir / "empty");
    EXPECT_TRUE(fs::is_empty(dir / "empty"));

    Outcome links = h.extract(dir / "links.rar");
    ASSERT_TRUE(links.succeeded()) << links.error();
    EXPECT_EQ(links.output(), dir / "links");
    EXPECT_TRUE(fs::is_empty(dir / "links"));
    EXPECT_EQ(links.result().skipped(),
              (std::vector<SkippedEntry>{{"escape", SkippedEntry::Reason::unsafeLinkTarget}}));
}

TEST_F(ExtractorTest, TakenNamesMoveOnToTheNextCandidateAndStayUntouched) {
    writeRar5(dir / "report.rar", {StoredEntry::file("report.pdf", "new")});
    writeFile(dir / "report.pdf", "old file");
    fs::create_directory(dir / "report 2.pdf");
    fs::create_symlink("nowhere", dir / "report 3.pdf");

    Outcome outcome = h.extract(dir / "report.rar");
    ASSERT_TRUE(outcome.succeeded()) << outcome.error();
    EXPECT_EQ(outcome.output(), dir / "report 4.pdf");
    EXPECT_EQ(readFile(dir / "report 4.pdf"), "new");
    EXPECT_EQ(readFile(dir / "report.pdf"), "old file");
    EXPECT_TRUE(fs::is_empty(dir / "report 2.pdf"));
    EXPECT_EQ(fs::read_symlink(dir / "report 3.pdf"), "nowhere");
}

TEST_F(ExtractorTest, LaterVolumeExtractsTheWholeSetFromItsFirstVolume) {
    std::string big(60000, 'x');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>('a' + i * 7 % 26);
    makeTree(dir / "src", {{"movie.bin", big}});
    fs::path first =
        rar(dir / "src", (dir / "movie.rar").string(), {"-m0", "-v20k", "-psecret"}, {"movie.bin"});
    std::vector<fs::path> volumes = volumeFiles(first);
    ASSERT_EQ(volumes.size(), 3u);
    h.passwords = {"secret"};

    Outcome outcome = h.extract(volumes[2]);
    ASSERT_TRUE(outcome.succeeded()) << outcome.error();
    EXPECT_EQ(readFile(dir / "movie.bin"), big);
    EXPECT_EQ(outcome.result().archiveFiles(), volumes);
    ASSERT_FALSE(h.requests.empty());
    EXPECT_EQ(h.requests.front(), (PasswordRequest{"movie.part1.rar", false}));
}

TEST_F(ExtractorTest, MissingFirstVolumeIsReportedByItsExpectedName) {
    makeTree(dir / "src", {{"movie.bin", std::string(60000, 'q')}});
    fs::path first =
        rar(dir / "src", (dir / "movie.rar").string(), {"-m0", "-v20k"}, {"movie.bin"});
    std::vector<fs::path> volumes = volumeFiles(first);
    fs::remove(volumes[0]);

    Outcome outcome = h.extract(volumes[1]);
    EXPECT_EQ(outcome.error(), E::volumeMissing("movie.part1.rar"));
    EXPECT_EQ(h.engine->extracts, 0);
}

TEST_F(ExtractorTest, EncryptedHeadersAskFirstThenRetryAndDecliningLeavesNoTrace) {
    makeTree(dir / "src", {{"secret.txt", "classified"}});
    fs::path archive = rar(dir / "src", (dir / "vault.rar").string(), {"-hpright"}, {"secret.txt"});

    h.passwords = {"wrong", "also wrong", "right"};
    Outcome outcome = h.extract(archive);
    ASSERT_TRUE(outcome.succeeded()) << outcome.error();
    EXPECT_EQ(readFile(dir / "secret.txt"), "classified");
    EXPECT_EQ(h.requests, (std::vector<PasswordRequest>{
                              {"vault.rar", false}, {"vault.rar", true}, {"vault.rar", true}}));
    fs::remove(dir / "secret.txt");

    h.requests.clear();
    h.passwords = {"wrong"};
    Outcome declined = h.extract(archive);
    EXPECT_EQ(declined.error(), E::cancelled());
    EXPECT_EQ(h.requests.size(), 2u);
}

TEST_F(ExtractorTest, EncryptedDataIsAskedForOnceBeforeExtractingAndRetriedWhenWrong) {
    makeTree(dir / "src", {{"a.txt", "alpha"}, {"b.txt", "beta"}});
    fs::path archive =
        rar(dir / "src", (dir / "data.rar").string(), {"-pright"}, {"a.txt", "b.txt"});
    h.passwords = {"wrong", "right"};

    Outcome outcome = h.extract(archive);
    ASSERT_TRUE(outcome.succeeded()) << outcome.error();
    EXPECT_EQ(readFile(dir / "data/b.txt"), "beta");
    EXPECT_EQ(h.requests, (std::vector<PasswordRequest>{{"data.rar", false}, {"data.rar", true}}));
    EXPECT_EQ(h.engine->lists, 1);
    EXPECT_EQ(h.engine->extracts, 2);
    // Progress starts again from nothing with the new attempt.
    ASSERT_FALSE(h.reports.empty());
    EXPECT_EQ(h.reports.back().completedBytes, 9u);
    EXPECT_EQ(h.reports.back().totalBytes, 9u);
}

TEST_F(ExtractorTest, UnsafeEntryPathIsRefusedBeforeAnythingIsWritten) {
    for (const std::string name : {"../evil", "/abs/evil", "a/../b", "", "."}) {
        SCOPED_TRACE(name);
        writeRar5(dir / "evil.rar",
                  {StoredEntry::file("fine.txt", "ok"), StoredEntry::file(name, "payload")});
        h.engine->extracts = 0;
        Outcome outcome = h.extract(dir / "evil.rar");
        EXPECT_EQ(outcome.error(), E::unsafePath(name));
        EXPECT_EQ(h.engine->extracts, 0);
    }
}

TEST_F(ExtractorTest, CancellationAfterTheLastDirectoryIsFinalizedStillCancels) {
    writeRar5(dir / "tree.rar", {StoredEntry::directory("top"), StoredEntry::file("top/x", "1"),
                                 StoredEntry::file("y", "2")});
    Outcome dryRun = h.extract(dir / "tree.rar");
    ASSERT_TRUE(dryRun.succeeded()) << dryRun.error();
    fs::remove_all(dryRun.output());
    const int polls = h.cancelPolls;

    // Only the very last poll, the one after finalization, says cancel.
    h.cancelPolls = 0;
    h.isCancelled = [polls](int poll) { return poll >= polls; };
    Outcome outcome = h.extract(dir / "tree.rar");
    EXPECT_EQ(outcome.error(), E::cancelled());
}

TEST_F(ExtractorTest, CancellationDuringALongFileRemovesEverything) {
    makeTree(dir / "src", {{"long.bin", std::string(16 << 20, 'z')}, {"after.txt", "a"}});
    fs::path archive =
        rar(dir / "src", (dir / "long.rar").string(), {"-m0"}, {"long.bin", "after.txt"});
    h.isCancelled = [this](int) {
        return !h.reports.empty() && h.reports.back().completedBytes > 0;
    };
    Outcome outcome = h.extract(archive);
    EXPECT_EQ(outcome.error(), E::cancelled());
}

TEST_F(ExtractorTest, NameTakenAtTheMomentOfTheRenameGoesToTheNextName) {
    writeRar5(dir / "race.rar", {StoredEntry::file("race.txt", "ours")});
    const fs::path rival = dir / "race.txt";
    h.madeByOthers = {"race.txt"};
    // The poll after finalization comes right before the move into place.
    h.isCancelled = [&](int) {
        if (!fs::exists(rival) && !h.reports.empty()) {
            writeFile(rival, "theirs");
        }
        return false;
    };
    Outcome outcome = h.extract(dir / "race.rar");
    ASSERT_TRUE(outcome.succeeded()) << outcome.error();
    EXPECT_EQ(outcome.output(), dir / "race 2.txt");
    EXPECT_EQ(readFile(rival), "theirs");
    EXPECT_EQ(readFile(dir / "race 2.txt"), "ours");
}

TEST_F(ExtractorTest, DamagedLastEntryOfABigArchivePlacesNothing) {
    std::vector<StoredEntry> entries;
    for (int i = 0; i < 50; ++i) {
        entries.push_back(StoredEntry::file("big/f" + std::to_string(i), std::string(20000, 'a')));
    }
    StoredEntry last = StoredEntry::file("big/last", "corrupted bytes");
    last.wrongCrc = true;
    entries.push_back(last);
    writeRar5(dir / "big.rar", entries);
    Outcome outcome = h.extract(dir / "big.rar");
    EXPECT_EQ(outcome.error(), E::damaged("big/last"));
}

TEST_F(ExtractorTest, MissingMiddleVolumeIsNamed) {
    makeTree(dir / "src", {{"movie.bin", std::string(60000, 'm')}});
    fs::path first = rar(dir / "src", (dir / "cut.rar").string(), {"-m0", "-v20k"}, {"movie.bin"});
    fs::remove(volumeFiles(first)[1]);
    Outcome outcome = h.extract(first);
    EXPECT_EQ(outcome.error(), E::volumeMissing("cut.part2.rar"));
}

TEST_F(ExtractorTest, NotAnArchiveAndMissingFileAreReportedAsSuch) {
    writeFile(dir / "fake.rar", "this is not an archive at all");
    EXPECT_EQ(h.extract(dir / "fake.rar").error(), E::notAnArchive());
    EXPECT_EQ(h.extract(dir / "gone.rar").error(), E::cannotOpen());
}

TEST_F(ExtractorTest, ProvenanceAttributeMarksEverythingExtracted) {
    writeRar5(dir / "dl.rar", {StoredEntry::directory("d"), StoredEntry::file("d/f", "x"),
                               StoredEntry::file("g", "y")});
    const std::string origin = "https://example.invalid/dl.rar";
    if (::setxattr((dir / "dl.rar").c_str(), FileSystemPlatform::provenanceAttribute, origin.data(),
                   origin.size(), 0) != 0) {
        GTEST_SKIP() << "no user extended attributes here";
    }
    Outcome outcome = h.extract(dir / "dl.rar");
    ASSERT_TRUE(outcome.succeeded()) << outcome.error();
    std::vector<fs::path> marked = {outcome.output(), outcome.output() / "d",
                                    outcome.output() / "d/f", outcome.output() / "g"};
    for (const fs::path& item : marked) {
        auto value =
            FileSystemPlatform::readAttribute(item, FileSystemPlatform::provenanceAttribute);
        ASSERT_TRUE(value.has_value()) << item;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(value->data()), value->size()), origin);
    }

    writeRar5(dir / "plain.rar", {StoredEntry::file("p", "z")});
    Outcome plain = h.extract(dir / "plain.rar");
    ASSERT_TRUE(plain.succeeded()) << plain.error();
    EXPECT_FALSE(
        FileSystemPlatform::readAttribute(plain.output(), FileSystemPlatform::provenanceAttribute));
}

// Root ignores permission bits, so an unwritable destination is made real
// with a read-only mount.
TEST_F(ExtractorTest, UnwritableDestinationFailsBeforeListing) {
    writeRar5(dir / "a.rar", {StoredEntry::file("a", "1")});
    Tmpfs readOnly(dir / "ro", "size=1m", Tmpfs::readOnly);
    if (!readOnly.mounted())
        GTEST_SKIP() << "cannot mount here";
    Outcome outcome = h.extract(dir / "a.rar", ExtractionOptions{false, dir / "ro"});
    EXPECT_EQ(outcome.error(), E::destinationNotWritable(dir / "ro"));
    EXPECT_EQ(h.engine->lists, 0);
}

TEST_F(ExtractorTest, TooLittleSpaceFailsWithBothFigures) {
    const fs::path small = dir / "small";
    Tmpfs tmpfs(small, "size=256k");
    if (!tmpfs.mounted())
        GTEST_SKIP() << "cannot mount here";
    makeTree(dir / "src", {{"zeros.bin", std::string(1 << 20, '\0')}});
    fs::path archive = rar(dir / "src", (dir / "zeros.rar").string(), {}, {"zeros.bin"});
    const std::uint64_t available = FileSystemPlatform::availableCapacity(small);
    Outcome outcome = h.extract(archive, ExtractionOptions{false, small});
    EXPECT_EQ(outcome.error(), E::insufficientSpace(1 << 20, available));
    EXPECT_EQ(h.engine->extracts, 0);
}

TEST_F(ExtractorTest, FolderTheUserMayWriteToButNotListStillTakesTheOutput) {
    const OtherUser& user = OtherUser::get();
    ::chmod(dir.c_str(), 0755);
    const fs::path dropbox = dir / "dropbox";
    fs::create_directories(dropbox);
    writeRar5(dir / "in.rar", {StoredEntry::file("in.txt", "dropped")});
    ::chown(dropbox.c_str(), user.uid(), user.gid());
    ::chmod(dropbox.c_str(), 0333);
    const std::string result = user.run([&] {
        try {
            return Extractor(std::make_shared<RarEngine>())
                .extract(dir / "in.rar", ExtractionOptions{false, dropbox}, ExtractionHandlers{})
                .output()
                .string();
        } catch (const ExtractionError& error) {
            std::ostringstream text;
            text << error;
            return text.str();
        }
    });
    EXPECT_EQ(result, (dropbox / "in.txt").string());
    EXPECT_EQ(readFile(dropbox / "in.txt"), "dropped");
    EXPECT_EQ(directoryNames(dropbox), (std::set<std::string>{"in.txt"}));
}

}  // namespace
}  // namespace tovani::testing
