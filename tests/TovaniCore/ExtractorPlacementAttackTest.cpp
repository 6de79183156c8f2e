// Archives that need no ".." to do harm: a single item that would land
// beside the output as a link, or hidden; entries that declare no size yet
// fill the volume, or copies of a hard link that write the whole file each;
// and a copy of a file its mode keeps from being read. Each test is named
// after what it stops.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <sstream>

#include "TovaniCore/ExtractorHarness.h"
#include "TovaniCore/Workspace.h"
#include "support/OtherUser.h"
#include "support/RarWriter.h"
#include "support/Tmpfs.h"

namespace tovani::testing {
namespace {

namespace fs = std::filesystem;
using E = ExtractionError;

using PlacementAttack = ExtractorFixture;

TEST_F(PlacementAttack, SingleLinkIsNeverMovedOutBesideTheUsersFiles) {
    // Alone in the destination, "report.pdf -> .ssh/id_rsa" would point at
    // the user's own key; it stays in the folder named after the archive.
    writeRar5(dir / "report.rar",
              {StoredEntry::link(Redirection::unixSymlink, "report.pdf", ".ssh/id_rsa")});
    Outcome outcome = h.extract(dir / "report.rar");
    ASSERT_TRUE(outcome.succeeded()) << outcome.error();
    EXPECT_EQ(outcome.output(), dir / "report");
    EXPECT_EQ(fs::read_symlink(dir / "report" / "report.pdf"), ".ssh/id_rsa");
}

TEST_F(PlacementAttack, SingleHiddenItemIsNeverMovedOutAsConfiguration) {
    writeRar5(dir / "aliases.rar", {StoredEntry::file(".bash_aliases", "alias ls='evil'")});
    Outcome file = h.extract(dir / "aliases.rar");
    ASSERT_TRUE(file.succeeded()) << file.error();
    EXPECT_EQ(file.output(), dir / "aliases");
    EXPECT_EQ(readFile(dir / "aliases" / ".bash_aliases"), "alias ls='evil'");

    writeRar5(dir / "keys.rar", {StoredEntry::directory(".ssh"),
                                 StoredEntry::file(".ssh/authorized_keys", "ssh-ed25519 AAAA")});
    Outcome folder = h.extract(dir / "keys.rar");
    ASSERT_TRUE(folder.succeeded()) << folder.error();
    EXPECT_EQ(folder.output(), dir / "keys");
    EXPECT_FALSE(fs::exists(dir / ".ssh"));

    // Nor does an archive named like a hidden folder make one.
    writeRar5(dir / ".ssh.rar", {StoredEntry::file("authorized_keys", "ssh-ed25519 AAAA"),
                                 StoredEntry::file("config", "Host *")});
    Outcome named = h.extract(dir / ".ssh.rar");
    ASSERT_TRUE(named.succeeded()) << named.error();
    EXPECT_EQ(named.output(), dir / "ssh");
}

TEST_F(PlacementAttack, FoldersDeclaringNoBytesCannotFillTheVolume) {
    Tmpfs small(dir / "small", "size=1m,mode=0777");
    if (!small.mounted())
        GTEST_SKIP() << "cannot mount here";
    // Ten entries of 0 bytes whose paths imply 1000 folders in all.
    std::vector<StoredEntry> entries;
    for (int chain = 0; chain < 10; ++chain) {
        std::string path = "t" + std::to_string(chain);
        for (int level = 1; level < 100; ++level)
            path += "/d";
        entries.push_back(chain % 2 ? StoredEntry::directory(path)
                                    : StoredEntry::file(path + "/empty", ""));
    }
    writeRar5(dir / "deep.rar", entries);
    Outcome outcome = h.extract(dir / "deep.rar", ExtractionOptions{false, dir / "small"});
    // 1000 folders, one block each; the five empty files take none.
    EXPECT_EQ(outcome.error(), E::insufficientSpace(1000 * small.blockSize(), small.available()));
    EXPECT_EQ(h.engine->extracts, 0);
}

// Empty files take an inode each and no block: many fit a volume with
// little room for data, and are refused, before anything is written, where
// its inodes run short.
TEST_F(PlacementAttack, EmptyFilesCountInInodesNotInBlocks) {
    const struct {
        const char* options;
        int files;
        bool fits;
    } cases[] = {
        {"size=256k,mode=0777", 400, true},  // 400 blocks are 1.6 MB
        {"size=1m,nr_inodes=100,mode=0777", 200, false},
    };
    for (std::size_t index = 0; index < std::size(cases); ++index) {
        const auto& [options, files, fits] = cases[index];
        const fs::path volume = dir / ("volume" + std::to_string(index));
        Tmpfs small(volume, options);
        if (!small.mounted())
            GTEST_SKIP() << "cannot mount here";
        writeFile(volume / "notes.txt", "the user's notes");
        const auto before = treeSnapshot(volume);
        std::vector<StoredEntry> entries;
        for (int file = 0; file < files; ++file) {
            entries.push_back(StoredEntry::file("e/" + std::to_string(file), ""));
        }
        const fs::path archive = dir / ("empty" + std::to_string(index) + ".rar");
        writeRar5(archive, entries);
        struct statvfs figures {};
        ASSERT_EQ(::statvfs(volume.c_str(), &figures), 0);

        Outcome outcome = h.extract(archive, ExtractionOptions{false, volume});
        if (fits) {
            ASSERT_TRUE(outcome.succeeded()) << options << ": " << outcome.error();
            EXPECT_EQ(
                std::distance(fs::directory_iterator(outcome.output()), fs::directory_iterator()),
                files);
            continue;
        }
        // The files, their folder, and the workspace, its marker and the
        // output's folder.
        EXPECT_EQ(outcome.error(), E::insufficientSpace(files + 1 + 3, figures.f_favail,
                                                        E::InsufficientSpace::Unit::items))
            << options;
        EXPECT_EQ(treeSnapshot(volume), before);
    }
}

TEST_F(PlacementAttack, CopiesDeclaringNoBytesCountTheirSourceAndCannotFillTheVolume) {
    Tmpfs small(dir / "small", "size=1m,mode=0777");
    if (!small.mounted())
        GTEST_SKIP() << "cannot mount here";
    const std::string data(300 << 10, 'x');
    writeRar5(dir / "copies.rar", {StoredEntry::file("big.bin", data),
                                   StoredEntry::link(Redirection::fileCopy, "c1", "big.bin"),
                                   StoredEntry::link(Redirection::fileCopy, "c2", "./big.bin"),
                                   StoredEntry::link(Redirection::fileCopy, "c3", "c2")});
    Outcome outcome = h.extract(dir / "copies.rar", ExtractionOptions{false, dir / "small"});
    EXPECT_EQ(outcome.error(), E::insufficientSpace(4 * data.size(), small.available()));
    EXPECT_EQ(h.engine->extracts, 0);
}

TEST_F(PlacementAttack, HardLinkCopyBombIsRefusedForSpaceBeforeAnythingIsWritten) {
    Tmpfs small(dir / "small", "size=1m,mode=0777");
    if (!small.mounted())
        GTEST_SKIP() << "cannot mount here";
    writeFile(dir / "small" / "notes.txt", "the user's notes");
    const auto before = treeSnapshot(dir / "small");
    // One file, one hard link to it, and 30 copies of the link: each copy
    // writes the whole file, though the link it names declares nothing.
    const std::string data(256 << 10, 'x');
    std::vector<StoredEntry> entries = {
        StoredEntry::file("big.bin", data),
        StoredEntry::link(Redirection::hardLink, "link", "big.bin")};
    for (int copy = 0; copy < 30; ++copy) {
        entries.push_back(
            StoredEntry::link(Redirection::fileCopy, "copy" + std::to_string(copy), "link"));
    }
    writeRar5(dir / "bomb.rar", entries);
    ASSERT_LT(fs::file_size(dir / "bomb.rar"), data.size() + 8192);
    Outcome outcome = h.extract(dir / "bomb.rar", ExtractionOptions{false, dir / "small"});
    // The hard link itself writes nothing.
    EXPECT_EQ(outcome.error(), E::insufficientSpace(31 * data.size(), small.available()));
    EXPECT_EQ(h.engine->extracts, 0);
    EXPECT_EQ(treeSnapshot(dir / "small"), before);
}

std::string describe(const std::function<ExtractionResult()>& extract) {
    std::ostringstream text;
    try {
        text << "output " << extract().output().string();
    } catch (const ExtractionError& error) {
        text.str("");
        text << error;
    }
    return text.str();
}

TEST_F(PlacementAttack, CopyOfAFileWithModeZeroSucceedsForAnOrdinaryUser) {
    const OtherUser& user = OtherUser::get();
    ::chmod(dir.c_str(), 0777);
    StoredEntry locked = StoredEntry::file("locked", "sealed");
    locked.attributes = 0100000;
    writeRar5(dir / "sealed.rar",
              {locked, StoredEntry::link(Redirection::fileCopy, "again", "locked")});
    const std::string result = user.run([&] {
        return describe([&] {
            return Extractor(std::make_shared<RarEngine>())
                .extract(dir / "sealed.rar", ExtractionOptions{}, ExtractionHandlers{});
        });
    });
    EXPECT_EQ(result, "output " + (dir / "sealed").string());
    EXPECT_EQ(readFile(dir / "sealed" / "again"), "sealed");
    struct stat status {};
    ASSERT_EQ(::lstat((dir / "sealed" / "locked").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0u);
}

}  // namespace
}  // namespace tovani::testing
