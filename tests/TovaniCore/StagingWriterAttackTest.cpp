// Hostile entry sequences: each test is named after the attack it stops.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "StagingWriterTestEntries.h"
#include "TovaniCore/FileSystemPlatform.h"

namespace tovani::testing {
namespace {

namespace fs = std::filesystem;

class StagingWriterAttack : public StagingWriterFixture {
protected:
    fs::path outside = workspace / "outside";
};

TEST_F(StagingWriterAttack, SymlinkThenFileThroughIt) {
    make();
    sendEmpty(directoryEntry("sub"));
    sendEmpty(symlinkEntry("d", "sub"));
    EXPECT_EQ(errorOf([&] { (void)writer().begin(fileEntry("d/x")); }),
              ExtractionError::unsafePath("d/x"));
    EXPECT_EQ(errorOf([&] { (void)writer().begin(directoryEntry("d/e")); }),
              ExtractionError::unsafePath("d/e"));
    EXPECT_EQ(errorOf([&] { (void)writer().begin(symlinkEntry("d/l", "x")); }),
              ExtractionError::unsafePath("d/l"));
    EXPECT_TRUE(directoryNames(root / "sub").empty());
}

TEST_F(StagingWriterAttack, SymlinkToOutsideThenFileOfTheSameName) {
    make();
    sendEmpty(symlinkEntry("evil", "../outside"));
    send(fileEntry("evil"), "payload");
    EXPECT_EQ(writer().skipped(),
              (std::vector<SkippedEntry>{{"evil", SkippedEntry::Reason::unsafeLinkTarget}}));
    EXPECT_FALSE(fs::exists(fs::symlink_status(outside)));
    EXPECT_FALSE(isSymlink(root / "evil"));
    EXPECT_EQ(readFile(root / "evil"), "payload");
}

TEST_F(StagingWriterAttack, FileReplacesAPlantedLinkInsteadOfWritingThroughIt) {
    writeFile(outside, "precious");
    make();
    fs::create_symlink(outside, root / "planted");
    fs::create_directory(root / "dir");
    fs::create_symlink(outside, root / "dir" / "planted");
    send(fileEntry("planted"), "payload");
    send(fileEntry("dir/planted"), "payload");
    EXPECT_EQ(readFile(outside), "precious");
    EXPECT_FALSE(isSymlink(root / "planted"));
    EXPECT_FALSE(isSymlink(root / "dir" / "planted"));
    EXPECT_EQ(readFile(root / "dir" / "planted"), "payload");
}

TEST_F(StagingWriterAttack, LinkChainsThatClimbOutAreRefused) {
    make();
    sendEmpty(symlinkEntry("cur", "."));
    sendEmpty(symlinkEntry("par", "cur/.."));
    sendEmpty(symlinkEntry("dir/l1", ".."));
    sendEmpty(symlinkEntry("dir/l2", "l1/.."));
    sendEmpty(symlinkEntry("dir/l3", "../.."));

    const auto unsafe = SkippedEntry::Reason::unsafeLinkTarget;
    EXPECT_EQ(writer().skipped(),
              (std::vector<SkippedEntry>{{"par", unsafe}, {"dir/l2", unsafe}, {"dir/l3", unsafe}}));
    EXPECT_EQ(fs::read_symlink(root / "cur"), ".");
    EXPECT_EQ(fs::read_symlink(root / "dir" / "l1"), "..");
    EXPECT_EQ(errorOf([&] { (void)writer().begin(fileEntry("cur/x")); }),
              ExtractionError::unsafePath("cur/x"));
    EXPECT_EQ(errorOf([&] { (void)writer().begin(fileEntry("dir/l1/x")); }),
              ExtractionError::unsafePath("dir/l1/x"));
    EXPECT_EQ(directoryNames(workspace.path()), (std::set<std::string>{"Stage"}));
}

TEST_F(StagingWriterAttack, DirectoryEntryOverExtractedSymlink) {
    make();
    sendEmpty(directoryEntry("real"));
    sendEmpty(symlinkEntry("alias", "real"));
    EXPECT_EQ(errorOf([&] { (void)writer().begin(directoryEntry("alias", 0777)); }),
              ExtractionError::unsafePath("alias"));
    writer().finalizeDirectories();
    EXPECT_EQ(modeOf(root / "real"), 0755u & ~FileSystemPlatform::processUmask());
}

TEST_F(StagingWriterAttack, HardLinksAndCopiesToOutsideAreSkipped) {
    writeFile(outside, "secret");
    make();
    sendEmpty(hardLinkEntry("h1", "../outside"));
    sendEmpty(hardLinkEntry("h2", outside.string()));
    sendEmpty(copyEntry("c1", "../outside"));
    sendEmpty(copyEntry("c2", outside.string()));

    const auto unsafe = SkippedEntry::Reason::unsafeLinkTarget;
    EXPECT_EQ(writer().skipped(),
              (std::vector<SkippedEntry>{
                  {"h1", unsafe}, {"h2", unsafe}, {"c1", unsafe}, {"c2", unsafe}}));
    EXPECT_TRUE(directoryNames(root).empty());
    EXPECT_EQ(fs::hard_link_count(outside), 1u);
}

TEST_F(StagingWriterAttack, HardLinkThroughSymlinkedDirectory) {
    make();
    send(fileEntry("sub/file"), "inside");
    sendEmpty(symlinkEntry("d", "sub"));
    sendEmpty(hardLinkEntry("h", "d/file"));
    sendEmpty(copyEntry("c", "d/file"));
    EXPECT_EQ(writer().skipped(),
              (std::vector<SkippedEntry>{{"h", SkippedEntry::Reason::unsafeLinkTarget},
                                         {"c", SkippedEntry::Reason::unsafeLinkTarget}}));
    EXPECT_EQ(fs::hard_link_count(root / "sub" / "file"), 1u);
}

TEST_F(StagingWriterAttack, HardLinkToPlantedLinkToOutside) {
    writeFile(outside, "secret");
    make();
    fs::create_symlink(outside, root / "planted");
    sendEmpty(hardLinkEntry("h", "planted"));
    sendEmpty(copyEntry("c", "planted"));
    EXPECT_EQ(writer().skipped(),
              (std::vector<SkippedEntry>{{"h", SkippedEntry::Reason::unsafeLinkTarget},
                                         {"c", SkippedEntry::Reason::unsafeLinkTarget}}));
    EXPECT_EQ(fs::hard_link_count(outside), 1u);
    EXPECT_FALSE(fs::exists(fs::symlink_status(root / "c")));
}

TEST_F(StagingWriterAttack, RewriteOfHardLinkedNameDoesNotWriteThroughTheSharedInode) {
    make();
    send(fileEntry("a"), "original");
    sendEmpty(hardLinkEntry("b", "a"));
    send(fileEntry("a"), "rewritten");
    sendEmpty(copyEntry("c", "a", 9));
    send(fileEntry("c"), "again");
    EXPECT_EQ(readFile(root / "a"), "rewritten");
    EXPECT_EQ(readFile(root / "b"), "original");
    EXPECT_EQ(readFile(root / "c"), "again");
}

TEST_F(StagingWriterAttack, EntryPathsThatLeaveTheRoot) {
    make();
    for (const char* path : {"../x", "/etc/x", "a/../../x", "", "."}) {
        EXPECT_EQ(errorOf([&] { (void)writer().begin(fileEntry(path)); }),
                  ExtractionError::unsafePath(path))
            << path;
    }
    EXPECT_EQ(directoryNames(workspace.path()), (std::set<std::string>{"Stage"}));
}

TEST_F(StagingWriterAttack, SetuidSetgidAndStickyBitsAreDropped) {
    ScopedUmask mask(022);
    make();
    send(fileEntry("suid", 04755), "x");
    send(fileEntry("all", 07777), "x");
    sendEmpty(directoryEntry("dir", 07777));
    writer().finalizeDirectories();
    EXPECT_EQ(modeOf(root / "suid"), 0755u);
    EXPECT_EQ(modeOf(root / "all"), 0755u);
    EXPECT_EQ(modeOf(root / "dir"), 0755u);
}

TEST_F(StagingWriterAttack, ArchiveModesNeverWidenWhatTheUmaskAllows) {
    {
        ScopedUmask mask(022);
        make();
        send(fileEntry("rwx", 0777), "x");
        send(fileEntry("rw", 0666), "x");
        sendEmpty(copyEntry("rwCopy", "rw", 1, 0666));
        sendEmpty(directoryEntry("open", 0777));
        sendEmpty(directoryEntry("ro", 0500));
        sendEmpty(directoryEntry("exec", 0751));
        writer().finalizeDirectories();
        EXPECT_EQ(modeOf(root / "rwx"), 0755u);
        EXPECT_EQ(modeOf(root / "rw"), 0644u);
        EXPECT_EQ(modeOf(root / "rwCopy"), 0644u);
        EXPECT_EQ(modeOf(root / "open"), 0755u);
        EXPECT_EQ(modeOf(root / "ro"), 0700u);
        EXPECT_EQ(modeOf(root / "exec"), 0751u);
    }
    destroyWriter();
    fs::remove_all(root);
    {
        ScopedUmask mask(077);
        make();
        // The umask is read once per writer: changing it later has no effect.
        ScopedUmask later(022);
        send(fileEntry("rwx", 0755), "x");
        send(fileEntry("none", std::nullopt), "x");
        sendEmpty(directoryEntry("dir", 0755));
        sendEmpty(directoryEntry("parent/child"));
        writer().finalizeDirectories();
        EXPECT_EQ(modeOf(root), 0700u);
        EXPECT_EQ(modeOf(root / "rwx"), 0700u);
        EXPECT_EQ(modeOf(root / "none"), 0600u);
        EXPECT_EQ(modeOf(root / "dir"), 0700u);
    }
}

}  // namespace
}  // namespace tovani::testing
