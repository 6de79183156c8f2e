#include "TovaniCore/AnyArchiveEngine.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "TovaniCore/Extractor.h"
#include "TovaniCore/FormatSamples.h"
#include "TovaniCore/RarEngine.h"
#include "support/PatternedBytes.h"
#include "support/RarWriter.h"
#include "support/TempDirectory.h"

namespace tovani::testing {
namespace {

namespace fs = std::filesystem;
using E = ExtractionError;
using Reason = E::VolumeUnreadable::Reason;

// An engine that records each call in a shared log ("rar scan x.zip") and
// answers with one file, a.txt; it names volumes as the RAR engine does.
class RecordingEngine final : public ArchiveEngine {
public:
    RecordingEngine(std::string name, std::vector<std::string>& log) : name_(name), log_(log) {}

    fs::path firstVolume(const fs::path& file) const override { return rar_.firstVolume(file); }
    std::vector<fs::path> volumesFrom(const fs::path& volume) const override {
        return rar_.volumesFrom(volume);
    }
    ArchiveListing list(const fs::path& archive, const std::optional<std::string>&,
                        const Cancellation& = Cancellation::never()) const override {
        log_.push_back(name_ + " list " + archive.filename().string());
        return listing(archive);
    }
    ArchiveListing scan(const fs::path& archive, const std::optional<std::string>&,
                        const std::function<void(const ArchiveEntry&)>& visit,
                        const Cancellation& = Cancellation::never()) const override {
        log_.push_back(name_ + " scan " + archive.filename().string());
        ArchiveListing result = listing(archive);
        for (const ArchiveEntry& entry : result.entries) {
            visit(entry);
        }
        result.entries.clear();
        return result;
    }
    void extract(const fs::path& archive, const std::optional<std::string>&, ArchiveEntrySink& into,
                 const Cancellation& = Cancellation::never()) const override {
        log_.push_back(name_ + " extract " + archive.filename().string());
        const ArchiveEntry entry = listing(archive).entries.front();
        if (into.begin(entry)) {
            const std::string data = "hi";
            into.write(std::as_bytes(std::span(data)));
            into.finish(entry);
        }
    }

private:
    static ArchiveListing listing(const fs::path& archive) {
        ArchiveListing result;
        ArchiveEntry entry;
        entry.path = "a.txt";
        entry.kind = ArchiveEntry::File{};
        entry.unpackedSize = 2;
        entry.posixPermissions = 0644;
        result.entries.push_back(entry);
        result.files.push_back(archive);
        return result;
    }

    std::string name_;
    std::vector<std::string>& log_;
    RarEngine rar_;
};

class AnyArchiveEngineTest : public ::testing::Test {
protected:
    // The log of one call of each kind, or the error the first one threw.
    std::vector<std::string> callsFor(const fs::path& archive) {
        log.clear();
        try {
            (void)engine.list(archive, std::nullopt);
            (void)engine.scan(archive, std::nullopt, [](const ArchiveEntry&) {});
            struct Sink final : ArchiveEntrySink {
                bool begin(const ArchiveEntry&) override { return false; }
                void write(std::span<const std::byte>) override {}
                void finish(const ArchiveEntry&) override {}
            } sink;
            engine.extract(archive, std::nullopt, sink);
        } catch (const ExtractionError& error) {
            log.push_back(error.what());
        }
        return log;
    }
    static std::vector<std::string> calls(const std::string& engine, const std::string& file) {
        return {engine + " list " + file, engine + " scan " + file, engine + " extract " + file};
    }

    TempDirectory dir;
    std::vector<std::string> log;
    AnyArchiveEngine engine{std::make_shared<RecordingEngine>("rar", log),
                            std::make_shared<RecordingEngine>("others", log)};
};

TEST_F(AnyArchiveEngineTest, ChoosesTheEngineByContentWhateverTheName) {
    TempDirectory samples;
    for (const FormatSample& sample : formatSamples()) {
        const fs::path made = sample.make(samples.path());
        const std::string expected = sample.kind == ArchiveFormat::Kind::rar ? "rar" : "others";
        for (const char* name : {"x.rar", "x.zip", "x.tar.gz", "x"}) {
            fs::copy_file(made, dir / name, fs::copy_options::overwrite_existing);
            EXPECT_EQ(callsFor(dir / name), calls(expected, name))
                << sample.label << " as " << name;
        }
    }
}

TEST_F(AnyArchiveEngineTest, ContentNoEngineReadsIsNotAnArchiveWhateverTheName) {
    const std::vector<std::string> notAnArchive{E::notAnArchive().what()};
    for (const char* name : {"x.rar", "x.zip", "x.7z", "x.tar.gz", "x.txt.gz", "x.part1.rar"}) {
        writeFile(dir / name, "these are plain words, and no archive");
        EXPECT_EQ(callsFor(dir / name), notAnArchive) << name;
    }
    writeFile(dir / "empty.zip", "");
    EXPECT_EQ(callsFor(dir / "empty.zip"), notAnArchive);
    ASSERT_EQ(::mkfifo((dir / "pipe.7z").c_str(), 0600), 0);
    EXPECT_EQ(callsFor(dir / "pipe.7z"),
              std::vector<std::string>{E::volumeUnreadable("pipe.7z", Reason::notAFile).what()});
    EXPECT_EQ(callsFor(dir / "gone.zip"), std::vector<std::string>{E::cannotOpen().what()});
}

// A set cut byte by byte is read from its first part whichever part is
// named, by the engine its first part's content calls for, and every part is
// among the archive's files.
TEST_F(AnyArchiveEngineTest, SplitSetsAreReadFromTheirFirstPart) {
    writeFile(dir / "big.bin", patterned(5000, 1));
    runOrThrow(dir.path(), "7z", {"a", "-bd", "-bso0", "-v2k", "s.7z", "big.bin"});
    runOrThrow(dir.path(), "7z", {"a", "-bd", "-bso0", "-tzip", "-v2k", "s.zip", "big.bin"});
    writeRar5(dir / "r.rar", {StoredEntry::file("a.txt", "a")});
    fs::rename(dir / "r.rar", dir / "r.001");
    struct Case {
        std::string opened;
        std::vector<std::string> log;
        std::vector<std::string> files;
    };
    const std::vector<Case> cases = {
        {"s.7z.001", calls("others", "s.7z.001"), {"s.7z.001", "s.7z.002", "s.7z.003"}},
        {"s.7z.003", calls("others", "s.7z.001"), {"s.7z.001", "s.7z.002", "s.7z.003"}},
        {"s.zip.002", calls("others", "s.zip.001"), {"s.zip.001", "s.zip.002", "s.zip.003"}},
        {"r.001", calls("rar", "r.001"), {"r.001"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(callsFor(dir / c.opened), c.log) << c.opened;
        std::vector<fs::path> files;
        for (const std::string& name : c.files) {
            files.push_back(dir / name);
        }
        EXPECT_EQ(engine.list(dir / c.opened, std::nullopt).files, files) << c.opened;
        EXPECT_EQ(engine.firstVolume(dir / c.opened), dir / c.files.front()) << c.opened;
    }
    EXPECT_EQ(engine.volumesFrom(dir / "s.7z.002"),
              (std::vector<fs::path>{dir / "s.7z.002", dir / "s.7z.003"}));
}

TEST_F(AnyArchiveEngineTest, APartWithoutItsFirstIsMissingItUnlessItIsAnArchiveItself) {
    writeFile(dir / "s.7z.002", patterned(3000, 2));
    EXPECT_EQ(callsFor(dir / "s.7z.002"),
              std::vector<std::string>{E::volumeMissing("s.7z.001").what()});
    // A name that only looks like a part.
    writeZip(dir / "Holiday.2024", "a.txt", "a");
    EXPECT_EQ(callsFor(dir / "Holiday.2024"), calls("others", "Holiday.2024"));
    EXPECT_EQ(engine.list(dir / "Holiday.2024", std::nullopt).files,
              std::vector<fs::path>{dir / "Holiday.2024"});
}

// No engine reads a zip spread over several files: each of its files fails
// as a part of such a set, named, and all of them map to one first segment.
TEST_F(AnyArchiveEngineTest, SpannedZipsAreRefusedNamingTheFile) {
    const std::string zip = readFile(writeZip(dir / "whole.zip", "a.txt", std::string(3000, 'a')));
    writeFile(dir / "span.z01", "PK\x07\x08" + zip.substr(0, 1000));
    writeFile(dir / "span.z02", zip.substr(1000, 1000));
    writeFile(dir / "span.zip", zip.substr(2000));
    writeFile(dir / "lone.zip", "PK\x07\x08" + zip);
    writeFile(dir / "UPPER.Z01", "PK\x07\x08" + zip.substr(0, 1000));
    writeFile(dir / "UPPER.ZIP", zip.substr(1000));
    struct Case {
        std::string opened;
        std::string first;
    };
    const std::vector<Case> cases = {
        {"span.z01", "span.z01"}, {"span.z02", "span.z01"},   {"span.zip", "span.z01"},
        {"lone.zip", "lone.zip"}, {"UPPER.ZIP", "UPPER.Z01"}, {"UPPER.Z01", "UPPER.Z01"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(
            callsFor(dir / c.opened),
            std::vector<std::string>{E::volumeUnreadable(c.opened, Reason::unsupportedSet).what()})
            << c.opened;
        EXPECT_EQ(engine.firstVolume(dir / c.opened), dir / c.first) << c.opened;
    }
    // A RAR volume may be called .z01 too; without a .zip beside it, it is RAR's.
    writeRar5(dir / "old.z01", {StoredEntry::file("a.txt", "a")});
    EXPECT_EQ(callsFor(dir / "old.z01"), calls("rar", "old.z01"));
    EXPECT_EQ(engine.firstVolume(dir / "old.z01"), dir / "old.rar");
}

// The whole way through the extractor: the Trash gets every part of a split
// set, whichever was opened.
TEST_F(AnyArchiveEngineTest, TheExtractorReturnsEveryPartOfASplitSet) {
    writeFile(dir / "big.bin", patterned(5000, 3));
    runOrThrow(dir.path(), "7z", {"a", "-bd", "-bso0", "-v2k", "s.7z", "big.bin"});
    fs::remove(dir / "big.bin");
    const auto shared = std::shared_ptr<const ArchiveEngine>(&engine, [](const ArchiveEngine*) {});
    const ExtractionResult result =
        Extractor(shared).extract(dir / "s.7z.002", ExtractionOptions{}, ExtractionHandlers{});
    EXPECT_EQ(result.output(), dir / "a.txt");
    EXPECT_EQ(result.archiveFiles(),
              (std::vector<fs::path>{dir / "s.7z.001", dir / "s.7z.002", dir / "s.7z.003"}));
    EXPECT_EQ(log, (std::vector<std::string>{"others scan s.7z.001", "others extract s.7z.001"}));

    // A later part that is a pipe would block the reader: the set is refused,
    // naming it, before any engine is asked.
    fs::remove(dir / "a.txt");
    fs::remove(dir / "s.7z.003");
    ASSERT_EQ(::mkfifo((dir / "s.7z.003").c_str(), 0600), 0);
    log.clear();
    try {
        (void)Extractor(shared).extract(dir / "s.7z.001", ExtractionOptions{},
                                        ExtractionHandlers{});
        ADD_FAILURE() << "a pipe among the parts was read";
    } catch (const ExtractionError& error) {
        EXPECT_EQ(error, E::volumeUnreadable("s.7z.003", Reason::notAFile));
    }
    EXPECT_EQ(log, std::vector<std::string>{});
}

}  // namespace
}  // namespace tovani::testing
