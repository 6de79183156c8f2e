// Archives that lie about what they hold, read as the library reads them:
// names the library cuts short, archives that stop before their end record,
// damaged encrypted data given the right password. Each ends in the exact
// error with nothing but the archive in the destination.
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>

#include "TovaniCore/ExtractorHarness.h"
#include "support/PatternedBytes.h"
#include "support/RarTool.h"
#include "support/RarWriter.h"

namespace tovani::testing {
namespace {

namespace fs = std::filesystem;
using E = ExtractionError;

// Text that compresses, so that a flipped byte lands in compressed data.
std::string prose(std::size_t size) {
    std::string text;
    for (unsigned line = 0; text.size() < size; ++line) {
        text += "line " + std::to_string(line * 7919u % 10007u) + " of the report\n";
    }
    text.resize(size);
    return text;
}

void flipByteAt(const fs::path& file, std::uintmax_t offset) {
    std::fstream stream(file, std::ios::in | std::ios::out | std::ios::binary);
    stream.seekg(static_cast<std::streamoff>(offset));
    char byte = 0;
    stream.read(&byte, 1);
    byte = static_cast<char>(byte ^ 0x5A);
    stream.seekp(static_cast<std::streamoff>(offset));
    stream.write(&byte, 1);
}

// Five folders of 199 characters: 1,000 characters of path, every component
// within the file system's limit.
const std::string kDeepFolders = [] {
    std::string path;
    for (int i = 0; i < 5; ++i) {
        path += std::string(199, static_cast<char>('a' + i)) + "/";
    }
    return path;
}();

using HostileArchive = ExtractorFixture;

TEST_F(HostileArchive, LongNamesCutIntoOneAreRefusedBeforeAnythingIsWritten) {
    // Both names share their first 1,023 characters, all the library's name
    // field holds: cut, they would become one file.
    const std::string prefix = kDeepFolders + std::string(23, 'n');
    writeRar5(dir / "long.rar", {StoredEntry::file(prefix + "-one.txt", "one"),
                                 StoredEntry::file(prefix + "-two.txt", "two")});
    EXPECT_EQ(h.extract(dir / "long.rar").error(), E::writeFailed(prefix, ENAMETOOLONG));
    EXPECT_EQ(h.engine->extracts, 0);
}

TEST_F(HostileArchive, LongNameCutIntoAnExecutableDesktopFileIsRefused) {
    // Cut at 1,023 characters, x.desktop.txt would end in x.desktop.
    const std::string cut = kDeepFolders + std::string(14, 'p') + "x.desktop";
    ASSERT_EQ(cut.size(), 1023u);
    writeRar5(dir / "desk.rar", {StoredEntry::file(cut + ".txt", "[Desktop Entry]\n")});
    EXPECT_EQ(h.extract(dir / "desk.rar").error(), E::writeFailed(cut, ENAMETOOLONG));
}

TEST_F(HostileArchive, NameJustShortOfTheFieldIsExtracted) {
    const std::string name = kDeepFolders + std::string(22, 'k');
    writeRar5(dir / "fits.rar", {StoredEntry::file(name, "kept")});
    Outcome outcome = h.extract(dir / "fits.rar");
    ASSERT_TRUE(outcome.succeeded()) << outcome.error();
    EXPECT_EQ(readFile(dir / name), "kept");
}

TEST_F(HostileArchive, NameOverTheFileSystemsLimitIsRefusedBeforeAnythingIsWritten) {
    // Within what the library reads, but one component over 255 bytes: the
    // listing refuses it, so the files before it are never written either.
    const std::string tooLong = "docs/" + std::string(256, 'n');
    writeRar5(dir / "name.rar", {StoredEntry::file("first.txt", "first"),
                                 StoredEntry::file(tooLong + "/last.txt", "last")});
    EXPECT_EQ(h.extract(dir / "name.rar").error(), E::writeFailed(tooLong, ENAMETOOLONG));
    EXPECT_EQ(h.engine->extracts, 0);
}

// rar's own archive of a.bin alone, less its end record, is exactly a
// prefix of its archive of a.bin and b.bin.
class CutByRar : public HostileArchive {
protected:
    void SetUp() override {
        makeTree(dir / "src", {{"a.bin", patterned(30000, 1)}, {"b.bin", patterned(30000, 2)}});
        rar(dir / "src", (dir / "one.rar").string(), {"-m0", "-ma5"}, {"a.bin"});
        rar(dir / "src", (dir / "t.rar").string(), {"-m0", "-ma5"}, {"a.bin", "b.bin"});
        afterFirstEntry = fs::file_size(dir / "one.rar") - 8;
        fs::remove(dir / "one.rar");
        fs::remove_all(dir / "src");
    }
    std::uintmax_t afterFirstEntry = 0;
};

TEST_F(CutByRar, DownloadCutBetweenEntriesIsDamaged) {
    fs::resize_file(dir / "t.rar", afterFirstEntry);
    EXPECT_EQ(h.extract(dir / "t.rar").error(), E::damaged(std::nullopt));
}

TEST_F(CutByRar, DownloadCutInsideTheLastEntryIsDamaged) {
    fs::resize_file(dir / "t.rar", afterFirstEntry + 10000);
    EXPECT_EQ(h.extract(dir / "t.rar").error(), E::damaged(std::nullopt));
}

TEST_F(CutByRar, DownloadCutBeforeTheEndRecordIsDamaged) {
    fs::resize_file(dir / "t.rar", fs::file_size(dir / "t.rar") - 8);
    EXPECT_EQ(h.extract(dir / "t.rar").error(), E::damaged(std::nullopt));
}

TEST_F(HostileArchive, RecordsBeforeTheEndAreNoEndOfTheirOwn) {
    // Quick-open and recovery records sit between the last entry and the
    // end record; whole archives with them extract, cut ones do not.
    makeTree(dir / "src", {{"a.bin", patterned(30000, 1)}, {"b.txt", prose(40000)}});
    rar(dir / "src", (dir / "qo.rar").string(), {"-ma5", "-qo+", "-rr5%"}, {"a.bin", "b.txt"});
    rar(dir / "src", (dir / "hp.rar").string(), {"-ma5", "-hpsecret"}, {"a.bin", "b.txt"});
    fs::remove_all(dir / "src");
    h.passwords = {"secret"};
    for (const char* name : {"qo.rar", "hp.rar"}) {
        SCOPED_TRACE(name);
        Outcome outcome = h.extract(dir / name);
        ASSERT_TRUE(outcome.succeeded()) << outcome.error();
        EXPECT_EQ(readFile(outcome.output() / "b.txt"), prose(40000));
        fs::remove_all(outcome.output());
    }
    fs::resize_file(dir / "qo.rar", fs::file_size(dir / "qo.rar") - 8);
    EXPECT_EQ(h.extract(dir / "qo.rar").error(), E::damaged(std::nullopt));
}

TEST_F(HostileArchive, LastVolumeCutBeforeItsEndRecordIsDamaged) {
    makeTree(dir / "src", {{"a.bin", patterned(30000, 3)}, {"b.bin", patterned(3000, 4)}});
    const fs::path first =
        rar(dir / "src", (dir / "set.rar").string(), {"-m0", "-ma5", "-v20k"}, {"a.bin", "b.bin"});
    fs::remove_all(dir / "src");
    const std::vector<fs::path> volumes = volumeFiles(first);
    ASSERT_EQ(volumes.size(), 2u);
    fs::resize_file(volumes.back(), fs::file_size(volumes.back()) - 8);
    EXPECT_EQ(h.extract(first).error(), E::damaged(std::nullopt));
}

TEST_F(HostileArchive, OldFormatCutBetweenEntriesIsDamaged) {
    const std::vector<StoredEntry> entries = {StoredEntry::file("a.bin", patterned(5000, 5)),
                                              StoredEntry::file("b.bin", patterned(5000, 6))};
    writeRar4(dir / "one.rar", {entries[0]});
    const std::uintmax_t afterFirstEntry = fs::file_size(dir / "one.rar") - 7;
    fs::remove(dir / "one.rar");
    writeRar4(dir / "old.rar", entries);
    fs::resize_file(dir / "old.rar", afterFirstEntry);
    EXPECT_EQ(h.extract(dir / "old.rar").error(), E::damaged(std::nullopt));

    const std::vector<fs::path> set = writeRar4Volumes(dir / "vol.rar", entries, 4000);
    ASSERT_GE(set.size(), 3u);
    fs::resize_file(set.back(), fs::file_size(set.back()) - 7);
    EXPECT_EQ(h.extract(dir / "vol.rar").error(), E::damaged(std::nullopt));
}

// RAR 5 checks a password before any data is read, so damage found after
// the right password is damage: asking again would never end.
TEST_F(HostileArchive, DamagedRar5DataWithTheRightPasswordIsDamagedNotAWrongPassword) {
    makeTree(dir / "src", {{"report.txt", prose(300000)}});
    rar(dir / "src", (dir / "p.rar").string(), {"-ma5", "-m3", "-psecret"}, {"report.txt"});
    rar(dir / "src", (dir / "hp.rar").string(), {"-ma5", "-m3", "-hpsecret"}, {"report.txt"});
    fs::remove_all(dir / "src");
    for (const char* name : {"p.rar", "hp.rar"}) {
        SCOPED_TRACE(name);
        const fs::path archive = dir / name;
        flipByteAt(archive, fs::file_size(archive) / 2);
        h.requests.clear();
        h.passwords = {"secret", "secret", "secret"};
        EXPECT_EQ(h.extract(archive).error(), E::damaged("report.txt"));
        EXPECT_EQ(h.requests.size(), 1u);
    }
}

// RAR 1.5-4.x has nothing to check a password against: damage found after
// one was given may be a wrong password, and the user is asked again.
TEST_F(HostileArchive, DamagedOldFormatDataAfterAPasswordIsStillAskedAgain) {
    StoredEntry entry = StoredEntry::file("old.txt", prose(5000));
    entry.rar15Password = "right";
    writeRar4(dir / "ok.rar", {entry});
    entry.wrongCrc = true;
    writeRar4(dir / "bad.rar", {entry});

    h.passwords = {"wrong", "right"};
    Outcome outcome = h.extract(dir / "ok.rar");
    ASSERT_TRUE(outcome.succeeded()) << outcome.error();
    EXPECT_EQ(readFile(outcome.output()), prose(5000));
    ASSERT_EQ(h.requests.size(), 2u);
    EXPECT_TRUE(h.requests[1].isRetry);

    h.requests.clear();
    h.passwords = {"right", std::nullopt};
    EXPECT_EQ(h.extract(dir / "bad.rar").error(), E::cancelled());
    ASSERT_EQ(h.requests.size(), 2u);
    EXPECT_TRUE(h.requests[1].isRetry);
}

}  // namespace
}  // namespace tovani::testing
