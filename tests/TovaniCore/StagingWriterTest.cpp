#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "StagingWriterTestEntries.h"
#include "TovaniCore/FileSystemPlatform.h"
#include "support/Tmpfs.h"

namespace tovani::testing {
namespace {

namespace fs = std::filesystem;

// An item of the tables of times: a file, a folder or a link dated so.
struct DatedItem {
    const char* name;
    char kind;  // 'f', 'd' or 'l'
    Timestamp date;
};

class StagingWriterTest : public StagingWriterFixture {
protected:
    void sendDated(const DatedItem& item) {
        switch (item.kind) {
            case 'f':
                send(fileEntry(item.name, 0644, item.date), "x");
                break;
            case 'd':
                sendEmpty(directoryEntry(item.name, std::nullopt, item.date));
                break;
            default:
                sendEmpty(symlinkEntry(item.name, "elsewhere", item.date));
                break;
        }
    }
};

struct stat statusOf(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
    return status;
}

int openDescriptorCount() {
    int count = 0;
    for ([[maybe_unused]] const auto& item : fs::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

TEST_F(StagingWriterTest, CreatesRootAndOnlyTheEntryDirectoryGetsItsMetadata) {
    ScopedUmask mask(022);
    make();
    EXPECT_EQ(modeOf(root), 0755u);
    sendEmpty(directoryEntry("a/b", 0700, Timestamp{1'000'000'000, 0}));
    EXPECT_EQ(modeOf(root / "a" / "b"), 0755u) << "metadata waits for finalization";

    writer().finalizeDirectories();

    EXPECT_EQ(modeOf(root / "a"), 0755u);
    EXPECT_NE(statusOf(root / "a").st_mtim.tv_sec, 1'000'000'000);
    EXPECT_EQ(modeOf(root / "a" / "b"), 0700u);
    EXPECT_EQ(statusOf(root / "a" / "b").st_mtim.tv_sec, 1'000'000'000);
    EXPECT_TRUE(writer().skipped().empty());
}

TEST_F(StagingWriterTest, RootThatExistsFailsWithEmptyPath) {
    fs::create_directory(root);
    EXPECT_EQ(errorOf([&] { make(); }), ExtractionError::writeFailed("", EEXIST));
}

TEST_F(StagingWriterTest, DirectoryModesKeepOwnerAccessAndLaterEntryWins) {
    ScopedUmask mask(022);
    make();
    sendEmpty(directoryEntry("ro", 0500));
    sendEmpty(directoryEntry("exec", 0751));
    sendEmpty(directoryEntry("none", 0000));
    sendEmpty(directoryEntry("plain"));
    sendEmpty(directoryEntry("twice", 0700));
    sendEmpty(directoryEntry("twice", 0750));
    sendEmpty(directoryEntry("deep/er/est", 0500));
    sendEmpty(directoryEntry("deep", 0500));
    writer().finalizeDirectories();

    EXPECT_EQ(modeOf(root / "ro"), 0700u);
    EXPECT_EQ(modeOf(root / "exec"), 0751u);
    EXPECT_EQ(modeOf(root / "none"), 0700u);
    EXPECT_EQ(modeOf(root / "plain"), 0755u);
    EXPECT_EQ(modeOf(root / "twice"), 0750u);
    EXPECT_EQ(modeOf(root / "deep" / "er" / "est"), 0700u);
    EXPECT_EQ(modeOf(root / "deep"), 0700u);
}

TEST_F(StagingWriterTest, FileModesDropSpecialBitsAndDefaultTo644) {
    ScopedUmask mask(022);
    make();
    send(fileEntry("setuid", 04755), "x");
    send(fileEntry("none", std::nullopt), "x");
    send(fileEntry("private", 0600), "x");
    EXPECT_EQ(modeOf(root / "setuid"), 0755u);
    EXPECT_EQ(modeOf(root / "none"), 0644u);
    EXPECT_EQ(modeOf(root / "private"), 0600u);
}

TEST_F(StagingWriterTest, WritesDataInChunksAndReportsProgressCappedAtTotal) {
    make(std::nullopt, 10);
    const ArchiveEntry entry = fileEntry("docs/readme.txt");
    ASSERT_TRUE(writer().begin(entry));
    const std::string first = "hello ", second = "world, more than announced";
    writer().write(std::as_bytes(std::span(first.data(), first.size())));
    writer().write(std::as_bytes(std::span(second.data(), 0)));
    writer().write(std::as_bytes(std::span(second.data(), second.size())));
    writer().finish(entry);

    EXPECT_EQ(readFile(root / "docs" / "readme.txt"), first + second);
    ASSERT_EQ(reports.size(), 4u);
    EXPECT_EQ(reports[0], (ExtractionProgress{0, 10, "docs/readme.txt"}));
    EXPECT_EQ(reports[1], (ExtractionProgress{6, 10, "docs/readme.txt"}));
    EXPECT_EQ(reports[2], (ExtractionProgress{6, 10, "docs/readme.txt"}));
    EXPECT_EQ(reports[3], (ExtractionProgress{10, 10, "docs/readme.txt"}));
}

TEST_F(StagingWriterTest, DataWithoutOpenFileAndFinishWithoutOneAreIgnored) {
    make();
    const std::string data = "stray";
    writer().write(std::as_bytes(std::span(data.data(), data.size())));
    writer().finish(fileEntry("nothing"));
    EXPECT_TRUE(reports.empty());
    EXPECT_TRUE(directoryNames(root).empty());
}

TEST_F(StagingWriterTest, DuplicateFileNameReplacesTheEarlierFile) {
    make();
    send(fileEntry("a.txt"), "first version");
    send(fileEntry("a.txt"), "second");
    send(fileEntry("locked.txt", 0000), "first, unreadable");
    send(fileEntry("locked.txt", 0444), "second, read-only");
    send(fileEntry("locked.txt", 0400), "third");
    EXPECT_EQ(readFile(root / "a.txt"), "second");
    EXPECT_EQ(readFile(root / "locked.txt"), "third");
    EXPECT_EQ(modeOf(root / "locked.txt"), 0400u);
}

// A default access list replaces the umask for new files and can grant less
// than the archive's mode; the mode is then set afterwards, as without one.
TEST_F(StagingWriterTest, FileModesHoldUnderARestrictiveDefaultAccessList) {
    ScopedUmask mask(022);
    // user::rwx, group::---, mask::---, other::--- (the kernel's own layout).
    const unsigned char list[] = {2,    0,    0,    0, 1, 0,    7,    0,    0xff,
                                  0xff, 0xff, 0xff, 4, 0, 0,    0,    0xff, 0xff,
                                  0xff, 0xff, 0x10, 0, 0, 0,    0xff, 0xff, 0xff,
                                  0xff, 0x20, 0,    0, 0, 0xff, 0xff, 0xff, 0xff};
    if (::setxattr(workspace.path().c_str(), "system.posix_acl_default", list, sizeof list, 0) !=
        0) {
        GTEST_SKIP() << "no access lists here: " << std::strerror(errno);
    }
    make();
    send(fileEntry("shared.txt", 0664), "x");
    send(fileEntry("plain.txt", std::nullopt), "x");
    EXPECT_EQ(modeOf(root / "shared.txt"), 0644u);
    EXPECT_EQ(modeOf(root / "plain.txt"), 0644u);
}

TEST_F(StagingWriterTest, EntriesThatCollideWithOtherKindsAreUnsafe) {
    make();
    sendEmpty(directoryEntry("dir"));
    send(fileEntry("file"), "x");
    EXPECT_EQ(errorOf([&] { (void)writer().begin(fileEntry("dir")); }),
              ExtractionError::unsafePath("dir"));
    EXPECT_EQ(errorOf([&] { (void)writer().begin(directoryEntry("file")); }),
              ExtractionError::unsafePath("file"));
    EXPECT_EQ(errorOf([&] { (void)writer().begin(fileEntry("file/inner")); }),
              ExtractionError::unsafePath("file/inner"));
    EXPECT_EQ(errorOf([&] { (void)writer().begin(symlinkEntry("dir", "file")); }),
              ExtractionError::unsafePath("dir"));
    EXPECT_EQ(errorOf([&] { (void)writer().begin(fileEntry("a/../b")); }),
              ExtractionError::unsafePath("a/../b"));
}

TEST_F(StagingWriterTest, RefusedSymbolicLinksAreSkippedAndExtractionGoesOn) {
    make();
    sendEmpty(symlinkEntry("noTarget", std::nullopt));
    sendEmpty(symlinkEntry("up", "../x"));
    sendEmpty(symlinkEntry("sub/ok", "../target", Timestamp{1'500'000'000, 250'000'000}));
    send(fileEntry("after"), "x");

    EXPECT_EQ(writer().skipped(), (std::vector<SkippedEntry>{
                                      {"noTarget", SkippedEntry::Reason::unreadableLinkTarget},
                                      {"up", SkippedEntry::Reason::unsafeLinkTarget},
                                  }));
    EXPECT_FALSE(fs::exists(fs::symlink_status(root / "noTarget")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(root / "up")));
    EXPECT_EQ(fs::read_symlink(root / "sub" / "ok"), "../target");
    const struct stat link = statusOf(root / "sub" / "ok");
    EXPECT_EQ(link.st_mtim.tv_sec, 1'500'000'000);
    EXPECT_EQ(link.st_mtim.tv_nsec, 250'000'000);
    EXPECT_TRUE(fs::is_regular_file(root / "after"));
}

TEST_F(StagingWriterTest, HardLinkSharesTheInodeWithoutBytesOrMetadata) {
    make(std::nullopt, 100);
    send(fileEntry("docs/a.txt", 0640), "shared");
    sendEmpty(hardLinkEntry("b.txt", "docs/./a.txt"));
    EXPECT_EQ(statusOf(root / "b.txt").st_ino, statusOf(root / "docs" / "a.txt").st_ino);
    EXPECT_EQ(modeOf(root / "b.txt"), 0640u);
    EXPECT_EQ(reports.back(), (ExtractionProgress{6, 100, "b.txt"}));
}

TEST_F(StagingWriterTest, HardLinksAndCopiesToWhatIsNotARegularFile) {
    make();
    sendEmpty(directoryEntry("dir"));
    send(fileEntry("file"), "x");
    sendEmpty(symlinkEntry("link", "file"));
    EXPECT_EQ(errorOf([&] { (void)writer().begin(hardLinkEntry("h1", "missing")); }),
              ExtractionError::damaged("h1"));
    EXPECT_EQ(errorOf([&] { (void)writer().begin(copyEntry("c1", "dir/missing")); }),
              ExtractionError::damaged("c1"));
    sendEmpty(hardLinkEntry("h2", "link"));
    sendEmpty(hardLinkEntry("h3", "dir"));
    sendEmpty(copyEntry("c2", "link"));
    sendEmpty(copyEntry("c3", "dir"));
    sendEmpty(copyEntry("c4", "file/inner"));

    const auto unsafe = SkippedEntry::Reason::unsafeLinkTarget;
    EXPECT_EQ(writer().skipped(),
              (std::vector<SkippedEntry>{
                  {"h2", unsafe}, {"h3", unsafe}, {"c2", unsafe}, {"c3", unsafe}, {"c4", unsafe}}));
    EXPECT_EQ(directoryNames(root), (std::set<std::string>{"dir", "file", "link"}));
}

TEST_F(StagingWriterTest, CopyGetsItsOwnModeAndDateAndCountsItsSize) {
    ScopedUmask mask(022);
    make(std::nullopt, 100);
    send(fileEntry("src", 0400, Timestamp{1'000'000'000, 0}), "duplicated data");
    sendEmpty(copyEntry("dir/copy", "src", 15, 0750, Timestamp{1'200'000'000, 500'000'000}));

    EXPECT_EQ(readFile(root / "dir" / "copy"), "duplicated data");
    EXPECT_NE(statusOf(root / "dir" / "copy").st_ino, statusOf(root / "src").st_ino);
    EXPECT_EQ(modeOf(root / "dir" / "copy"), 0750u);
    EXPECT_EQ(modeOf(root / "src"), 0400u);
    const struct stat copy = statusOf(root / "dir" / "copy");
    EXPECT_EQ(copy.st_mtim.tv_sec, 1'200'000'000);
    EXPECT_EQ(copy.st_mtim.tv_nsec, 500'000'000);
    EXPECT_EQ(reports.back(), (ExtractionProgress{15, 100, "dir/copy"}));
    send(fileEntry("next"), "");
    EXPECT_EQ(reports.back(), (ExtractionProgress{30, 100, "next"}));
}

// Times land to the nanosecond, before 1970 and long after 2106 too, where
// the file system holds them (tmpfs holds every time); the access time is
// left alone.
TEST_F(StagingWriterTest, TimesLandToTheNanosecondInAnyYearTheFileSystemHolds) {
    Tmpfs memory(workspace / "memory", "size=1m,mode=0755");
    if (!memory.mounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs here";
    }
    root = workspace / "memory" / "Stage";
    make();
    const std::time_t before = std::time(nullptr);
    const DatedItem items[] = {
        {"quarter", 'f', {1'000'000'000, 250'000'000}},
        {"whole", 'f', {1'000'000'000, 0}},
        {"nanoseconds", 'f', {1'600'000'000, 123'456'789}},
        {"1601", 'f', {-11'644'473'599, 900'000'000}},
        {"1969", 'f', {-1, 500'000'000}},
        {"2200", 'f', {7'258'118'400, 1}},
        {"9999", 'f', {253'402'300'799, 999'999'999}},
        {"old-folder", 'd', {-11'644'473'600, 100}},
        {"far-folder", 'd', {253'402'300'799, 0}},
        {"old-link", 'l', {-5'000'000'000, 5}},
    };
    for (const DatedItem& item : items) {
        sendDated(item);
    }
    writer().finalizeDirectories();

    for (const DatedItem& item : items) {
        const struct stat status = statusOf(root / item.name);
        EXPECT_EQ(status.st_mtim.tv_sec, item.date.seconds) << item.name;
        EXPECT_EQ(status.st_mtim.tv_nsec, item.date.nanoseconds) << item.name;
        if (item.kind != 'l') {
            EXPECT_GE(status.st_atim.tv_sec, before) << item.name;
        }
    }
}

// ext4 holds times from 1901-12-13 to 2446-05-10 and clamps any other
// without a word; such a time becomes the time of extraction, never the
// limit, while one just inside the range is kept.
TEST_F(StagingWriterTest, ATimeTheFileSystemCannotHoldBecomesTheTimeOfExtraction) {
    struct statfs volume {};
    ASSERT_EQ(::statfs(workspace.path().c_str(), &volume), 0);
    if (volume.f_type != EXT4_SUPER_MAGIC) {
        GTEST_SKIP() << "the temporary folder is not on ext4";
    }
    make();
    const DatedItem items[] = {
        {"1601", 'f', {-11'644'473'599, 900'000'000}},
        {"9999", 'f', {253'402'300'799, 0}},
        {"old-folder", 'd', {-11'644'473'600, 0}},
        {"far-link", 'l', {253'402'300'799, 0}},
        {"1902", 'f', {-2'100'000'000, 7}},
    };
    const std::time_t before = std::time(nullptr);
    for (const DatedItem& item : items) {
        sendDated(item);
    }
    writer().finalizeDirectories();
    const std::time_t after = std::time(nullptr);

    for (const DatedItem& item : items) {
        const struct stat status = statusOf(root / item.name);
        if (item.date.seconds == -2'100'000'000) {
            EXPECT_EQ(status.st_mtim.tv_sec, item.date.seconds);
            EXPECT_EQ(status.st_mtim.tv_nsec, 7);
            continue;
        }
        EXPECT_GE(status.st_mtim.tv_sec, before) << item.name;
        EXPECT_LE(status.st_mtim.tv_sec, after) << item.name;
    }
}

TEST_F(StagingWriterTest, CancellationAtAChunkKeepsTheFileOpenUntilTheWriterGoes) {
    make();
    const int descriptorsBefore = openDescriptorCount();
    const ArchiveEntry entry = fileEntry("long.bin");
    ASSERT_TRUE(writer().begin(entry));
    const std::string chunk = "part";
    writer().write(std::as_bytes(std::span(chunk.data(), chunk.size())));
    cancelled = true;
    EXPECT_EQ(errorOf([&] { writer().write(std::as_bytes(std::span(chunk.data(), 4))); }),
              ExtractionError::cancelled());
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore + 1);
    EXPECT_EQ(errorOf([&] { (void)writer().begin(fileEntry("next")); }),
              ExtractionError::cancelled());

    destroyWriter();
    // The file and the writer's own hold on its root are closed.
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore - 1);
    EXPECT_EQ(readFile(root / "long.bin"), "part");
    EXPECT_FALSE(fs::exists(root / "next"));
}

TEST_F(StagingWriterTest, WriteFailuresReportThePathInsideTheArchive) {
    make();
    const std::string longName(300, 'n');
    EXPECT_EQ(errorOf([&] { (void)writer().begin(fileEntry("docs/" + longName)); }),
              ExtractionError::writeFailed("docs/" + longName, ENAMETOOLONG));
    EXPECT_EQ(errorOf([&] { (void)writer().begin(fileEntry("deep/" + longName + "/x")); }),
              ExtractionError::writeFailed("deep/" + longName, ENAMETOOLONG));
    // A name over the limit is refused before its folder is made.
    EXPECT_FALSE(fs::exists(root / "docs"));
}

TEST_F(StagingWriterTest, ProvenanceFailureOnTheRootReportsTheEmptyPath) {
    if (!keepsUserAttributes(workspace.path())) {
        GTEST_SKIP() << "no user extended attributes here";
    }
    // More than any extended attribute may hold.
    std::vector<std::byte> tooLarge(70'000, std::byte{'x'});
    EXPECT_EQ(errorOf([&] { make(tooLarge); }), ExtractionError::writeFailed("", E2BIG));
}

TEST_F(StagingWriterTest, ProvenanceGoesOnRootDirectoriesFilesAndCopies) {
    if (!keepsUserAttributes(workspace.path())) {
        GTEST_SKIP() << "no user extended attributes here";
    }
    const char* name = FileSystemPlatform::provenanceAttribute;
    const std::string origin = "https://example.org/photos.rar";
    make(bytes(origin));
    sendEmpty(directoryEntry("album/2024", 0500));
    send(fileEntry("album/2024/a.jpg", 0444), "jpeg");
    sendEmpty(copyEntry("album/b.jpg", "album/2024/a.jpg", 4, 0444));
    sendEmpty(hardLinkEntry("c.jpg", "album/2024/a.jpg"));
    sendEmpty(symlinkEntry("latest", "album/2024"));
    writer().finalizeDirectories();

    for (const char* item :
         {"", "album", "album/2024", "album/2024/a.jpg", "album/b.jpg", "c.jpg"}) {
        EXPECT_EQ(attributeOf(root / item, name), origin) << item;
    }
    EXPECT_TRUE(isSymlink(root / "latest")) << "a link that cannot be marked is still made";
    EXPECT_EQ(modeOf(root / "album" / "b.jpg"), 0444u);
}

TEST_F(StagingWriterTest, WithoutProvenanceNothingIsMarked) {
    if (!keepsUserAttributes(workspace.path())) {
        GTEST_SKIP() << "no user extended attributes here";
    }
    make();
    send(fileEntry("d/f"), "x");
    EXPECT_EQ(attributeOf(root, FileSystemPlatform::provenanceAttribute), std::nullopt);
    EXPECT_EQ(attributeOf(root / "d", FileSystemPlatform::provenanceAttribute), std::nullopt);
    EXPECT_EQ(attributeOf(root / "d" / "f", FileSystemPlatform::provenanceAttribute), std::nullopt);
}

// Blocks are reserved for a large file's declared size only within what the
// space check granted (the total), and a file that ends short of its
// declaration keeps no reserved tail: its size is what arrived, and the
// blocks past it are given back.
TEST_F(StagingWriterTest, ReservesDeclaredSizesOnlyWithinTheSpaceCheckAndKeepsNoTail) {
    constexpr std::uint64_t MiB = 1024 * 1024;
    struct Case {
        const char* name;
        std::uint64_t total;
        std::vector<std::uint64_t> declared;  // one file each
        std::vector<std::uint64_t> sent;
        std::vector<bool> reserved;  // right after begin
    };
    const Case cases[] = {
        {"within the check", 8 * MiB, {4 * MiB}, {4 * MiB}, {true}},
        {"beyond the check", 1 * MiB, {4 * MiB}, {4 * MiB}, {false}},
        {"a size no disk holds", 8 * MiB, {~0ULL >> 1}, {MiB}, {false}},
        {"the check shared by files",
         5 * MiB,
         {3 * MiB, 3 * MiB},
         {3 * MiB, 3 * MiB},
         {true, false}},
        {"short of its declaration", 8 * MiB, {6 * MiB}, {MiB + 17}, {true}},
        {"nothing at all", 8 * MiB, {6 * MiB}, {0}, {true}},
    };
    {
        // Not every file system reserves blocks; there is nothing to see then.
        const int probe = ::open((workspace / "probe").c_str(), O_CREAT | O_WRONLY, 0600);
        ASSERT_GE(probe, 0);
        const int code = FileSystemPlatform::reserveBlocks(probe, MiB);
        ::close(probe);
        if (code != 0) {
            GTEST_SKIP() << "no block reservation here: " << std::strerror(code);
        }
    }
    const std::string chunk(MiB, 'r');
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root);
        make(std::nullopt, c.total);
        for (std::size_t i = 0; i < c.declared.size(); ++i) {
            ArchiveEntry entry = fileEntry("f" + std::to_string(i));
            entry.unpackedSize = c.declared[i];
            ASSERT_TRUE(writer().begin(entry));
            const auto blocks =
                static_cast<std::uint64_t>(statusOf(root / entry.path).st_blocks) * 512;
            EXPECT_EQ(blocks >= c.declared[i], c.reserved[i]) << blocks;
            EXPECT_EQ(statusOf(root / entry.path).st_size, 0);
            for (std::uint64_t left = c.sent[i]; left > 0;) {
                const std::size_t size = std::min<std::uint64_t>(left, chunk.size());
                writer().write(std::as_bytes(std::span(chunk.data(), size)));
                left -= size;
            }
            writer().finish(entry);
            const struct stat after = statusOf(root / entry.path);
            EXPECT_EQ(static_cast<std::uint64_t>(after.st_size), c.sent[i]);
            // What was written, rounded up to whole blocks with a little
            // room for the file system's own.
            EXPECT_LE(static_cast<std::uint64_t>(after.st_blocks) * 512, c.sent[i] + 64 * 1024);
        }
        destroyWriter();
    }
}

}  // namespace
}  // namespace tovani::testing
