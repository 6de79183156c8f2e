#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "TovaniCore/RarEngine.h"
#include "support/RarTool.h"
#include "support/RarWriter.h"
#include "support/TempDirectory.h"

namespace tovani {
namespace {

namespace fs = std::filesystem;
using testing::HostOs;
using testing::Redirection;
using testing::StoredEntry;
using testing::TempDirectory;

// Bytes that the store method cannot shrink, so volume sizes are predictable.
std::string noise(size_t size) {
    std::string bytes(size, '\0');
    std::uint32_t state = 12345;
    for (char& byte : bytes) {
        state = state * 1103515245 + 12345;
        byte = static_cast<char>(state >> 16);
    }
    return bytes;
}

ExtractionError listError(const fs::path& archive, std::optional<std::string> password) {
    try {
        RarEngine().list(archive, password);
    } catch (const ExtractionError& error) {
        return error;
    }
    ADD_FAILURE() << "list succeeded";
    return ExtractionError::engineFailure();
}

std::vector<std::string> paths(const ArchiveListing& listing) {
    std::vector<std::string> result;
    for (const ArchiveEntry& entry : listing.entries) {
        result.push_back(entry.path);
    }
    return result;
}

TEST(RarEngineList, ConvertsEveryFieldOfTheEntries) {
    TempDirectory dir;
    StoredEntry setuid = StoredEntry::file("bin/tool", "#!", HostOs::unix);
    setuid.attributes = 0104755;
    StoredEntry windows = StoredEntry::file("win.txt", "w", HostOs::windows);
    StoredEntry epoch = StoredEntry::directory("old");
    epoch.unixMtime.reset();
    epoch.fileTime = testing::kFileTime1970;
    StoredEntry ancient = StoredEntry::file("old/ancient", "");
    ancient.unixMtime.reset();
    ancient.fileTime = testing::kFileTime1970 - 1;
    testing::writeRar5(dir / "a.rar", {setuid, windows, epoch, ancient});

    const ArchiveListing listing = RarEngine().list(dir / "a.rar", std::nullopt);
    const Timestamp mtime{testing::kDefaultMtime, 0};
    const std::vector<ArchiveEntry> expected{
        {"bin/tool", ArchiveEntry::File{}, 2, 2, mtime, 04755, false},
        {"win.txt", ArchiveEntry::File{}, 1, 1, mtime, std::nullopt, false},
        {"old", ArchiveEntry::Directory{}, 0, 0, Timestamp{0, 0}, 0755, false},
        {"old/ancient", ArchiveEntry::File{}, 0, 0, Timestamp{-1, 999'999'900}, 0644, false},
    };
    EXPECT_EQ(listing.entries, expected);
    EXPECT_EQ(listing.info, ArchiveInfo{});
    EXPECT_EQ(listing.files, std::vector<fs::path>{dir / "a.rar"});
}

TEST(RarEngineList, LinksOfEveryKindAndTheirTargets) {
    TempDirectory dir;
    testing::writeRar5(
        dir / "l.rar",
        {StoredEntry::file("f", "x"),
         StoredEntry::link(Redirection::unixSymlink, "unix", "../../etc/passwd"),
         StoredEntry::link(Redirection::unixSymlink, "empty", ""),
         StoredEntry::link(Redirection::windowsSymlink, "win", "C:\\x", HostOs::windows),
         StoredEntry::link(Redirection::junction, "junction", "\\??\\C:\\dir", HostOs::windows),
         StoredEntry::link(Redirection::hardLink, "hard", ""),
         StoredEntry::link(Redirection::fileCopy, "copy", "f")});
    // The link type wins over the directory flag.
    testing::writeRar4(dir / "old.rar", {StoredEntry::rar4Symlink("old-link", "f")});

    std::vector<ArchiveEntry::Kind> kinds;
    for (const ArchiveEntry& entry : RarEngine().list(dir / "l.rar", std::nullopt).entries) {
        kinds.push_back(entry.kind);
    }
    const std::vector<ArchiveEntry::Kind> expected{ArchiveEntry::File{},
                                                   ArchiveEntry::SymbolicLink{"../../etc/passwd"},
                                                   ArchiveEntry::SymbolicLink{std::nullopt},
                                                   ArchiveEntry::SymbolicLink{"C:/x"},
                                                   ArchiveEntry::SymbolicLink{"/?\?/C:/dir"},
                                                   ArchiveEntry::HardLink{""},
                                                   ArchiveEntry::Copy{"f"}};
    EXPECT_EQ(kinds, expected);

    const ArchiveListing old = RarEngine().list(dir / "old.rar", std::nullopt);
    ASSERT_EQ(old.entries.size(), 1u);
    EXPECT_EQ(old.entries[0].kind, ArchiveEntry::Kind(ArchiveEntry::SymbolicLink{std::nullopt}));
    EXPECT_EQ(old.entries[0].posixPermissions, std::optional<std::uint16_t>(0777));
}

// The kinds of an archive's entries, by path.
std::map<std::string, ArchiveEntry::Kind> kindsByPath(const fs::path& archive) {
    std::map<std::string, ArchiveEntry::Kind> kinds;
    for (const ArchiveEntry& entry : RarEngine().list(archive, std::nullopt).entries) {
        kinds[entry.path] = entry.kind;
    }
    return kinds;
}

TEST(RarEngineList, LinksMadeByTheRarTool) {
    TempDirectory dir;
    testing::makeTree(dir.path(), {{"s/a.txt", "one"},
                                   {"s/sub/", ""},
                                   {"h/a.txt", "two"},
                                   {"c/a.txt", "same"},
                                   {"c/b.txt", "same"}});
    fs::create_symlink("a.txt", dir / "s/link");
    fs::create_hard_link(dir / "h/a.txt", dir / "h/b.txt");

    const auto symbolic = kindsByPath(testing::rar(dir.path(), "s.rar", {"-ol"}, {"s"}));
    EXPECT_EQ(symbolic.at("s/link"), ArchiveEntry::Kind(ArchiveEntry::SymbolicLink{"a.txt"}));
    EXPECT_EQ(symbolic.at("s/sub"), ArchiveEntry::Kind(ArchiveEntry::Directory{}));
    EXPECT_EQ(symbolic.at("s/a.txt"), ArchiveEntry::Kind(ArchiveEntry::File{}));

    // Which of two equal names rar stores in full is its own choice.
    const auto hard = kindsByPath(testing::rar(dir.path(), "h.rar", {"-oh"}, {"h"}));
    EXPECT_TRUE(hard.at("h/b.txt") == ArchiveEntry::Kind(ArchiveEntry::HardLink{"h/a.txt"}) ||
                hard.at("h/a.txt") == ArchiveEntry::Kind(ArchiveEntry::HardLink{"h/b.txt"}));
    const auto copy = kindsByPath(testing::rar(dir.path(), "c.rar", {"-oi:1"}, {"c"}));
    EXPECT_TRUE(copy.at("c/b.txt") == ArchiveEntry::Kind(ArchiveEntry::Copy{"c/a.txt"}) ||
                copy.at("c/a.txt") == ArchiveEntry::Kind(ArchiveEntry::Copy{"c/b.txt"}));
}

TEST(RarEngineList, ArchiveWithoutEntriesListsOnlyItsFile) {
    TempDirectory dir;
    testing::writeRar5(dir / "empty.rar", {});
    const ArchiveListing listing = RarEngine().list(dir / "empty.rar", std::nullopt);
    EXPECT_TRUE(listing.entries.empty());
    EXPECT_EQ(listing.files, std::vector<fs::path>{dir / "empty.rar"});
}

TEST(RarEngineList, SolidFlag) {
    TempDirectory dir;
    testing::makeTree(dir.path(), {{"a", "aaaa"}, {"b", "bbbb"}});
    const fs::path archive = testing::rar(dir.path(), "s.rar", {"-s"}, {"a", "b"});
    const ArchiveListing listing = RarEngine().list(archive, std::nullopt);
    EXPECT_TRUE(listing.info.isSolid);
    EXPECT_EQ(paths(listing), (std::vector<std::string>{"a", "b"}));
}

TEST(RarEngineVolumes, ThreeVolumeSetListsEveryFileInOrder) {
    TempDirectory dir;
    testing::makeTree(dir.path(), {{"big.bin", noise(100 * 1024)}, {"tail.txt", "end"}});
    const fs::path first =
        testing::rar(dir.path(), "set.rar", {"-m0", "-v40k"}, {"big.bin", "tail.txt"});
    const std::vector<fs::path> volumes = testing::volumeFiles(first);
    ASSERT_EQ(volumes.size(), 3u);

    const ArchiveListing listing = RarEngine().list(first, std::nullopt);
    EXPECT_EQ(listing.files, volumes);
    EXPECT_EQ(paths(listing), (std::vector<std::string>{"big.bin", "tail.txt"}));
    EXPECT_TRUE(listing.info.isVolume);
    EXPECT_TRUE(listing.info.isFirstVolume);

    const ArchiveListing second = RarEngine().list(volumes[1], std::nullopt);
    EXPECT_TRUE(second.info.isVolume);
    EXPECT_FALSE(second.info.isFirstVolume);
    EXPECT_EQ(second.files.front(), volumes[1]);
}

TEST(RarEngineVolumes, MissingMiddleVolumeIsNamed) {
    TempDirectory dir;
    testing::makeTree(dir.path(), {{"big.bin", noise(100 * 1024)}});
    const fs::path first = testing::rar(dir.path(), "movie.rar", {"-m0", "-v40k"}, {"big.bin"});
    const std::vector<fs::path> volumes = testing::volumeFiles(first);
    ASSERT_EQ(volumes.size(), 3u);
    fs::remove(volumes[1]);
    EXPECT_EQ(listError(first, std::nullopt), ExtractionError::volumeMissing("movie.part2.rar"));
}

TEST(RarEngineVolumes, OldStyleSetInTheOldFormat) {
    TempDirectory dir;
    const std::string big = noise(5000);
    const std::vector<fs::path> volumes = testing::writeRar4Volumes(
        dir / "name.rar", {StoredEntry::file("big", big), StoredEntry::file("small", "s")}, 2000);
    ASSERT_EQ(volumes,
              (std::vector<fs::path>{dir / "name.rar", dir / "name.r00", dir / "name.r01"}));

    const ArchiveListing listing = RarEngine().list(volumes[0], std::nullopt);
    EXPECT_EQ(listing.files, volumes);
    ASSERT_EQ(paths(listing), (std::vector<std::string>{"big", "small"}));
    EXPECT_EQ(listing.entries[0].unpackedSize, 5000u);

    fs::remove(volumes[1]);
    EXPECT_EQ(listError(volumes[0], std::nullopt), ExtractionError::volumeMissing("name.r00"));
}

TEST(RarEnginePassword, EncryptedHeadersNeedThePasswordToList) {
    TempDirectory dir;
    testing::makeTree(dir.path(), {{"secret.txt", "hidden"}});
    const fs::path archive = testing::rar(dir.path(), "h.rar", {"-hpsecret"}, {"secret.txt"});

    EXPECT_EQ(listError(archive, std::nullopt), ExtractionError::passwordRequired());
    EXPECT_EQ(listError(archive, "wrong"), ExtractionError::wrongPassword());
    const ArchiveListing listing = RarEngine().list(archive, "secret");
    EXPECT_TRUE(listing.info.hasEncryptedHeaders);
    ASSERT_EQ(paths(listing), std::vector<std::string>{"secret.txt"});
    EXPECT_TRUE(listing.entries[0].isEncrypted);
}

TEST(RarEnginePassword, EncryptedDataListsWithoutPassword) {
    TempDirectory dir;
    testing::makeTree(dir.path(), {{"secret.txt", "hidden"}});
    const fs::path archive = testing::rar(dir.path(), "p.rar", {"-psecret"}, {"secret.txt"});
    const ArchiveListing listing = RarEngine().list(archive, std::nullopt);
    EXPECT_FALSE(listing.info.hasEncryptedHeaders);
    ASSERT_EQ(listing.entries.size(), 1u);
    EXPECT_TRUE(listing.entries[0].isEncrypted);
}

TEST(RarEngineOpen, NotAnArchiveAndMissingFile) {
    TempDirectory dir;
    testing::writeFile(dir / "notes.rar", "plain text, long enough to be looked at properly");
    EXPECT_EQ(listError(dir / "notes.rar", std::nullopt), ExtractionError::notAnArchive());
    EXPECT_EQ(listError(dir / "absent.rar", std::nullopt), ExtractionError::cannotOpen());
}

}  // namespace
}  // namespace tovani
