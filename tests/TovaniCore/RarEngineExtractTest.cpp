#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "TovaniCore/RarEngine.h"
#include "support/RarRecordingSink.h"
#include "support/RarTool.h"
#include "support/RarWriter.h"
#include "support/TempDirectory.h"

namespace tovani {
namespace {

namespace fs = std::filesystem;
using testing::HostOs;
using testing::RecordingSink;
using testing::Redirection;
using testing::StoredEntry;
using testing::TempDirectory;
using Events = std::vector<std::string>;

ExtractionError extractError(const fs::path& archive, std::optional<std::string> password,
                             ArchiveEntrySink& sink) {
    try {
        RarEngine().extract(archive, password, sink);
    } catch (const ExtractionError& error) {
        return error;
    }
    ADD_FAILURE() << "extract succeeded";
    return ExtractionError::engineFailure();
}

std::string pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7919) % 251);
    }
    return bytes;
}

TEST(RarEngineExtract, StreamsFilesInArchiveOrder) {
    TempDirectory dir;
    const std::string big = pattern(300 * 1024);
    testing::makeTree(dir.path(), {{"d/a.txt", "alpha"}, {"d/big.bin", big}, {"d/empty", ""}});
    const fs::path archive =
        testing::rar(dir.path(), "a.rar", {"-s"}, {"d/a.txt", "d/big.bin", "d/empty"});
    RecordingSink sink;
    RarEngine().extract(archive, std::nullopt, sink);
    EXPECT_EQ(sink.events,
              (Events{"begin d/a.txt", "write d/a.txt", "finish d/a.txt", "begin d/big.bin",
                      "write d/big.bin", "finish d/big.bin", "begin d/empty", "finish d/empty"}));
    EXPECT_EQ(sink.data["d/a.txt"], "alpha");
    EXPECT_EQ(sink.data["d/big.bin"], big);
    // Entries reach the sink as the listing reports them.
    EXPECT_EQ(sink.begun, RarEngine().list(archive, std::nullopt).entries);
}

TEST(RarEngineExtract, NonFileEntriesGetBeginOnlyEvenWhenItReturnsTrue) {
    TempDirectory dir;
    testing::writeRar5(dir / "k.rar",
                       {StoredEntry::directory("dir"), StoredEntry::file("dir/f", "data"),
                        StoredEntry::link(Redirection::unixSymlink, "sym", "dir/f"),
                        StoredEntry::link(Redirection::hardLink, "hard", "dir/f"),
                        StoredEntry::link(Redirection::fileCopy, "copy", "dir/f")});
    RecordingSink sink;
    RarEngine().extract(dir / "k.rar", std::nullopt, sink);
    EXPECT_EQ(sink.events, (Events{"begin dir", "begin dir/f", "write dir/f", "finish dir/f",
                                   "begin sym", "begin hard", "begin copy"}));
}

TEST(RarEngineExtract, DeclinedFileIsSkipped) {
    TempDirectory dir;
    testing::writeRar5(dir / "s.rar",
                       {StoredEntry::file("skip", "no"), StoredEntry::file("keep", "yes")});
    RecordingSink sink;
    sink.onBegin = [](const ArchiveEntry& entry) { return entry.path != "skip"; };
    RarEngine().extract(dir / "s.rar", std::nullopt, sink);
    EXPECT_EQ(sink.events, (Events{"begin skip", "begin keep", "write keep", "finish keep"}));
    EXPECT_EQ(sink.data["keep"], "yes");
}

TEST(RarEngineExtract, DeclinedFileInASolidArchiveLeavesTheNextOneIntact) {
    TempDirectory dir;
    const std::string first = pattern(64 * 1024);
    const std::string second = pattern(50 * 1024).substr(7) + "tail";
    testing::makeTree(dir.path(), {{"1.bin", first}, {"2.bin", second}, {"3.bin", "three"}});
    const fs::path archive =
        testing::rar(dir.path(), "solid.rar", {"-s", "-m5"}, {"1.bin", "2.bin", "3.bin"});
    RecordingSink sink;
    sink.onBegin = [](const ArchiveEntry& entry) { return entry.path != "1.bin"; };
    RarEngine().extract(archive, std::nullopt, sink);
    EXPECT_EQ(sink.events, (Events{"begin 1.bin", "begin 2.bin", "write 2.bin", "finish 2.bin",
                                   "begin 3.bin", "write 3.bin", "finish 3.bin"}));
    EXPECT_EQ(sink.data["2.bin"], second);
    EXPECT_EQ(sink.data["3.bin"], "three");
}

TEST(RarEngineExtract, ArchiveWithoutEntriesMakesNoSinkCall) {
    TempDirectory dir;
    testing::writeRar5(dir / "empty.rar", {});
    RecordingSink sink;
    RarEngine().extract(dir / "empty.rar", std::nullopt, sink);
    EXPECT_TRUE(sink.events.empty());
}

// The engine holds each file's data to its declared size; a size the
// archive does not state (written from a stream) holds nothing back.
TEST(RarEngineExtract, AFileOfUnstatedSizeDeliversAllItsData) {
    TempDirectory dir;
    StoredEntry streamed = StoredEntry::file("streamed.bin", pattern(70'000));
    streamed.unknownSize = true;
    testing::writeRar5(dir / "s.rar", {streamed, StoredEntry::file("after", "a")});
    RecordingSink sink;
    RarEngine().extract(dir / "s.rar", std::nullopt, sink);
    EXPECT_EQ(sink.data["streamed.bin"], pattern(70'000));
    EXPECT_EQ(sink.data["after"], "a");
}

TEST(RarEngineExtract, DamagedDataNamesTheEntryAndIsNeverFinished) {
    TempDirectory dir;
    StoredEntry bad = StoredEntry::file("bad.bin", pattern(1000));
    bad.wrongCrc = true;
    testing::writeRar5(dir / "d.rar",
                       {StoredEntry::file("good", "g"), bad, StoredEntry::file("after", "a")});
    RecordingSink sink;
    EXPECT_EQ(extractError(dir / "d.rar", std::nullopt, sink),
              ExtractionError::damaged(std::string("bad.bin")));
    EXPECT_EQ(sink.events, (Events{"begin good", "write good", "finish good", "begin bad.bin",
                                   "write bad.bin"}));
}

TEST(RarEngineExtract, OldStyleVolumeSetStreamsSplitFiles) {
    TempDirectory dir;
    const std::string big = pattern(5000);
    const std::vector<fs::path> volumes = testing::writeRar4Volumes(
        dir / "name.rar", {StoredEntry::file("big", big), StoredEntry::file("small", "s")}, 2000);
    RecordingSink sink;
    RarEngine().extract(volumes[0], std::nullopt, sink);
    EXPECT_EQ(sink.events, (Events{"begin big", "write big", "finish big", "begin small",
                                   "write small", "finish small"}));
    EXPECT_EQ(sink.data["big"], big);

    fs::remove(volumes[2]);
    RecordingSink cut;
    EXPECT_EQ(extractError(volumes[0], std::nullopt, cut),
              ExtractionError::volumeMissing("name.r01"));
    EXPECT_EQ(cut.events, (Events{"begin big", "write big"}));
}

TEST(RarEngineExtract, RarVolumeSetWithMissingLastVolume) {
    TempDirectory dir;
    testing::makeTree(dir.path(), {{"big.bin", pattern(100 * 1024)}});
    const fs::path first = testing::rar(dir.path(), "set.rar", {"-m0", "-v40k"}, {"big.bin"});
    const std::vector<fs::path> volumes = testing::volumeFiles(first);
    ASSERT_EQ(volumes.size(), 3u);
    fs::remove(volumes[2]);
    RecordingSink sink;
    EXPECT_EQ(extractError(first, std::nullopt, sink),
              ExtractionError::volumeMissing("set.part3.rar"));
    EXPECT_EQ(sink.events, (Events{"begin big.bin", "write big.bin"}));
}

TEST(RarEnginePassword, EncryptedDataNeedsTheRightPassword) {
    TempDirectory dir;
    testing::makeTree(dir.path(), {{"plain.txt", "open"}, {"secret.txt", "hidden"}});
    testing::rar(dir.path(), "p.rar", {}, {"plain.txt"});
    const fs::path archive = testing::rar(dir.path(), "p.rar", {"-psecret"}, {"secret.txt"});

    RecordingSink none;
    EXPECT_EQ(extractError(archive, std::nullopt, none), ExtractionError::passwordRequired());
    EXPECT_EQ(none.events, (Events{"begin plain.txt", "write plain.txt", "finish plain.txt",
                                   "begin secret.txt"}));
    RecordingSink wrong;
    EXPECT_EQ(extractError(archive, "wrong", wrong), ExtractionError::wrongPassword());
    RecordingSink right;
    RarEngine().extract(archive, "secret", right);
    EXPECT_EQ(right.data["secret.txt"], "hidden");
}

TEST(RarEnginePassword, EncryptedHeadersNeedTheRightPasswordToExtract) {
    TempDirectory dir;
    testing::makeTree(dir.path(), {{"secret.txt", "hidden"}});
    const fs::path archive = testing::rar(dir.path(), "h.rar", {"-hpsecret"}, {"secret.txt"});
    RecordingSink sink;
    EXPECT_EQ(extractError(archive, std::nullopt, sink), ExtractionError::passwordRequired());
    EXPECT_EQ(extractError(archive, "wrong", sink), ExtractionError::wrongPassword());
    EXPECT_TRUE(sink.events.empty());
    RarEngine().extract(archive, "secret", sink);
    EXPECT_EQ(sink.data["secret.txt"], "hidden");
}

TEST(RarEngineSinkErrors, WriteFailurePassesThroughUnchanged) {
    TempDirectory dir;
    testing::writeRar5(dir / "w.rar",
                       {StoredEntry::file("a", pattern(100)), StoredEntry::file("b", "b")});
    RecordingSink sink;
    sink.onWrite = [](std::span<const std::byte>) { throw ExtractionError::writeFailed("a", 28); };
    EXPECT_EQ(extractError(dir / "w.rar", std::nullopt, sink),
              ExtractionError::writeFailed("a", 28));
    EXPECT_EQ(sink.events, (Events{"begin a", "write a"}));
}

TEST(RarEngineSinkErrors, OtherExceptionTypesPassThroughAsThemselves) {
    TempDirectory dir;
    testing::writeRar5(dir / "w.rar", {StoredEntry::file("a", "data")});
    RecordingSink writeThrows;
    writeThrows.onWrite = [](std::span<const std::byte>) { throw std::runtime_error("disk"); };
    EXPECT_THROW(
        {
            try {
                RarEngine().extract(dir / "w.rar", std::nullopt, writeThrows);
            } catch (const std::runtime_error& error) {
                EXPECT_STREQ(error.what(), "disk");
                throw;
            }
        },
        std::runtime_error);

    RecordingSink beginThrows;
    beginThrows.onBegin = [](const ArchiveEntry&) -> bool { throw 42; };
    EXPECT_THROW(RarEngine().extract(dir / "w.rar", std::nullopt, beginThrows), int);

    RecordingSink finishThrows;
    finishThrows.onFinish = [](const ArchiveEntry&) { throw ExtractionError::cancelled(); };
    EXPECT_EQ(extractError(dir / "w.rar", std::nullopt, finishThrows),
              ExtractionError::cancelled());
}

TEST(RarEngineExtract, OpenFailures) {
    TempDirectory dir;
    testing::writeFile(dir / "notes.rar", "plain text, long enough to be looked at properly");
    RecordingSink sink;
    EXPECT_EQ(extractError(dir / "notes.rar", std::nullopt, sink), ExtractionError::notAnArchive());
    EXPECT_EQ(extractError(dir / "absent.rar", std::nullopt, sink), ExtractionError::cannotOpen());
    EXPECT_TRUE(sink.events.empty());
}

}  // namespace
}  // namespace tovani
