// Faults a desktop meets while an extraction runs: a full disk, volumes and
// archives that vanish or shrink under the engine, a destination that goes
// away or turns read-only, names taken at the last moment. Each ends in the
// exact error, places nothing and leaves no workspace (unless the volume it
// lies on cannot be written any more).
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <fstream>

#include "TovaniCore/ExtractorHarness.h"
#include "support/PatternedBytes.h"
#include "support/RarTool.h"
#include "support/RarWriter.h"
#include "support/Tmpfs.h"

namespace tovani::testing {
namespace {

namespace fs = std::filesystem;
using E = ExtractionError;

// Writes to file until the file system holding it is full.
void fillUp(const fs::path& file) {
    std::ofstream out(file, std::ios::binary);
    const std::string block(4096, 'f');
    while (out.write(block.data(), static_cast<std::streamsize>(block.size()))) {
        out.flush();
    }
}

// One extraction through the given engine, with no handlers; the result or
// the error, and any other exception as its std::exception text.
struct DirectOutcome {
    std::optional<ExtractionResult> result;
    std::optional<ExtractionError> error;
    std::optional<std::error_code> platformError;
};

DirectOutcome extractWith(std::shared_ptr<const ArchiveEngine> engine, const fs::path& archive,
                          const ExtractionOptions& options, ExtractionHandlers handlers) {
    DirectOutcome outcome;
    try {
        outcome.result = Extractor(std::move(engine)).extract(archive, options, handlers);
    } catch (const ExtractionError& error) {
        outcome.error = error;
    } catch (const fs::filesystem_error& error) {
        outcome.platformError = error.code();
    }
    return outcome;
}

using ExtractorFault = ExtractorFixture;

TEST_F(ExtractorFault, DiskFillsUpWhileAFileIsWritten) {
    const fs::path small = dir / "small";
    Tmpfs tmpfs(small, "size=1m,mode=0755");
    if (!tmpfs.mounted())
        GTEST_SKIP() << "cannot mount here";
    writeRar5(dir / "fill.rar", {StoredEntry::file("first.txt", "small"),
                                 StoredEntry::file("big.bin", patterned(256 << 10, 1))});
    // The space check passes; then another program takes all that is left.
    h.madeByOthers = {"hog"};
    h.isCancelled = [&](int) {
        if (!h.reports.empty() && h.reports.back().currentPath == "big.bin" &&
            !fs::exists(small / "hog")) {
            fillUp(small / "hog");
        }
        return false;
    };
    Outcome outcome = h.extract(dir / "fill.rar", ExtractionOptions{false, small});
    EXPECT_EQ(outcome.error(), E::writeFailed("big.bin", ENOSPC));
}

TEST_F(ExtractorFault, LaterVolumeDisappearsWhileTheFirstIsRead) {
    // The decoder reads ahead only as far as the socket's buffer allows (a
    // few MB), so the third volume is not yet open at the first report.
    makeTree(dir / "src", {{"movie.bin", patterned(15'000'000, 2)}});
    fs::path first = rar(dir / "src", (dir / "x.rar").string(), {"-m0", "-v5000k"}, {"movie.bin"});
    std::vector<fs::path> volumes = volumeFiles(first);
    ASSERT_EQ(volumes.size(), 3u);
    fs::remove_all(dir / "src");
    h.removedByOthers = {"x.part3.rar"};
    h.onProgress = [&](const ExtractionProgress&) {
        if (fs::exists(volumes[2]))
            fs::remove(volumes[2]);
    };
    Outcome outcome = h.extract(first);
    EXPECT_EQ(outcome.error(), E::volumeMissing("x.part3.rar"));
}

// Two entries of 50000 bytes each; the cut points are offsets in the file.
class ArchiveChangedAfterListing : public ExtractorFault {
protected:
    void SetUp() override {
        writeRar5(archive, {entries[0]});
        // The archive of a.bin alone ends with the 8-byte end-of-archive
        // header; without it, it is a prefix of the two-entry archive.
        afterFirstEntry = fs::file_size(archive) - 8;
        writeRar5(archive, entries);
        fullSize = fs::file_size(archive);
    }

    // Each cut starts again from the whole archive.
    Outcome extractCutAt(std::uintmax_t size) {
        writeRar5(archive, entries);
        h.engine->afterList = [this, size] { fs::resize_file(archive, size); };
        return h.extract(archive);
    }

    const fs::path archive = h.dir / "t.rar";
    const std::vector<StoredEntry> entries = {StoredEntry::file("a.bin", patterned(50000, 3)),
                                              StoredEntry::file("b.bin", patterned(50000, 4))};
    std::uintmax_t afterFirstEntry = 0;
    std::uintmax_t fullSize = 0;
};

TEST_F(ArchiveChangedAfterListing, DeletedIsCannotOpen) {
    h.engine->afterList = [this] { fs::remove(archive); };
    h.removedByOthers = {"t.rar"};
    EXPECT_EQ(h.extract(archive).error(), E::cannotOpen());
    EXPECT_EQ(h.engine->extracts, 1);
}

TEST_F(ArchiveChangedAfterListing, TruncatedInsideDataIsDamagedEntry) {
    EXPECT_EQ(extractCutAt(30000).error(), E::damaged("a.bin"));
    EXPECT_EQ(extractCutAt(afterFirstEntry + 40000).error(), E::damaged("b.bin"));
}

TEST_F(ArchiveChangedAfterListing, TruncatedBetweenEntriesIsDamagedNotAShorterResult) {
    // The engine meets a clean end of archive here; only the listing knows
    // that b.bin (or everything) is missing.
    EXPECT_EQ(extractCutAt(afterFirstEntry).error(), E::damaged(std::nullopt));
    EXPECT_EQ(extractCutAt(afterFirstEntry + 20).error(), E::damaged(std::nullopt));
    EXPECT_EQ(extractCutAt(10).error(), E::damaged(std::nullopt));
}

// A download cut off between two entries: the library reports a clean end
// of archive although the end-of-archive header is missing.
TEST_F(ArchiveChangedAfterListing, TruncatedBeforeListingBetweenEntriesIsDamaged) {
    fs::resize_file(archive, afterFirstEntry);
    EXPECT_EQ(h.extract(archive).error(), E::damaged(std::nullopt));
}

TEST_F(ArchiveChangedAfterListing, TruncatedToNothingIsNotAnArchive) {
    EXPECT_EQ(extractCutAt(0).error(), E::notAnArchive());
}

// Every entry is there, but nothing proves the archive was not longer: rar
// itself reports an unexpected end here.
TEST_F(ArchiveChangedAfterListing, LosingOnlyTheEndOfArchiveHeaderIsDamaged) {
    EXPECT_EQ(extractCutAt(fullSize - 1).error(), E::damaged(std::nullopt));
}

// The poll that sees every byte written is the one after finalization, right
// before the move into place (the archives here end with their only file).
bool allWritten(const ExtractorHarness& h) {
    return !h.reports.empty() && h.reports.back().totalBytes > 0 &&
           h.reports.back().completedBytes == h.reports.back().totalBytes;
}

TEST_F(ExtractorFault, DestinationTurnsReadOnlyBeforeTheRename) {
    const fs::path small = dir / "small";
    Tmpfs tmpfs(small, "size=1m,mode=0755");
    if (!tmpfs.mounted())
        GTEST_SKIP() << "cannot mount here";
    writeRar5(dir / "ro.rar", {StoredEntry::file("ro.txt", "data")});
    bool remounted = false;
    ExtractionHandlers handlers;
    handlers.progress = [&](const ExtractionProgress& progress) { h.reports.push_back(progress); };
    handlers.isCancelled = [&] {
        if (allWritten(h) && !remounted) {
            remounted = tmpfs.remount(Tmpfs::readOnly);
        }
        return false;
    };
    DirectOutcome outcome = extractWith(h.engine, dir / "ro.rar", {false, small}, handlers);
    ASSERT_TRUE(remounted);
    ASSERT_TRUE(outcome.error.has_value());
    EXPECT_EQ(*outcome.error, E::destinationNotWritable(small));
    // Nothing can be removed from a read-only volume: the workspace, with
    // the staged output in it, is all that is there.
    const std::set<std::string> names = directoryNames(small);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(workspacesIn(small), names);
    EXPECT_EQ(readFile(small / *names.begin() / "ro" / "ro.txt"), "data");
}

// Sets or clears the immutable flag of a directory; false when the file
// system has no such flag. An immutable directory refuses new names even to
// root, who ignores permission bits.
bool setImmutable(const fs::path& directory, bool immutable) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = immutable ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return done;
}

TEST_F(ExtractorFault, DestinationRefusesNewNamesBeforeTheRename) {
    const fs::path locked = dir / "locked";
    fs::create_directory(locked);
    if (!setImmutable(locked, true) || !setImmutable(locked, false)) {
        GTEST_SKIP() << "no immutable flag here";
    }
    writeRar5(dir / "lock.rar", {StoredEntry::file("lock.txt", "data")});
    bool locking = false;
    ExtractionHandlers handlers;
    handlers.progress = [&](const ExtractionProgress& progress) { h.reports.push_back(progress); };
    handlers.isCancelled = [&] {
        if (allWritten(h) && !locking) {
            locking = setImmutable(locked, true);
        }
        return false;
    };
    DirectOutcome outcome = extractWith(h.engine, dir / "lock.rar", {false, locked}, handlers);
    setImmutable(locked, false);
    ASSERT_TRUE(locking);
    ASSERT_TRUE(outcome.error.has_value());
    EXPECT_EQ(*outcome.error, E::destinationNotWritable(locked));
    // The workspace was emptied, but its own name could not leave the
    // directory either.
    const std::set<std::string> names = directoryNames(locked);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(workspacesIn(locked), names);
    EXPECT_TRUE(fs::is_empty(locked / *names.begin()));
}

TEST_F(ExtractorFault, DestinationMovedAwayOrDeletedBeforeTheRename) {
    const fs::path destination = dir / "Downloads";
    const fs::path trashed = dir / "Trash" / "Downloads";
    fs::create_directories(trashed.parent_path());
    for (bool deleted : {false, true}) {
        SCOPED_TRACE(deleted ? "deleted" : "moved to the trash");
        fs::create_directories(destination);
        writeRar5(destination / "gone.rar", {StoredEntry::file("gone.txt", "data")});
        bool done = false;
        ExtractionHandlers handlers;
        handlers.progress = [&](const ExtractionProgress& p) { h.reports.push_back(p); };
        handlers.isCancelled = [&] {
            if (allWritten(h) && !done) {
                done = true;
                if (deleted) {
                    fs::remove_all(destination);
                } else {
                    fs::rename(destination, trashed);
                }
            }
            return false;
        };
        DirectOutcome outcome = extractWith(h.engine, destination / "gone.rar", {}, handlers);
        ASSERT_TRUE(done);
        // The folder the user named is no longer the one written to.
        ASSERT_TRUE(outcome.error.has_value());
        EXPECT_EQ(*outcome.error, E::destinationNotWritable(destination));
        EXPECT_FALSE(fs::exists(destination));
        if (!deleted) {
            // The moved folder keeps the archive; the workspace was removed
            // through its descriptor wherever it went.
            EXPECT_EQ(directoryNames(trashed), (std::set<std::string>{"gone.rar"}));
        }
        h.reports.clear();
    }
}

TEST_F(ExtractorFault, NameTakenByADirectoryOrLinkAtTheRenameGoesToTheNextName) {
    const std::vector<std::pair<std::string, std::function<void(const fs::path&)>>> rivals = {
        {"directory", [](const fs::path& at) { fs::create_directory(at); }},
        {"dangling link", [](const fs::path& at) { fs::create_symlink("nowhere", at); }},
        {"link to a directory",
         [this](const fs::path& at) { fs::create_directory_symlink(dir, at); }},
    };
    for (const auto& [kind, makeRival] : rivals) {
        SCOPED_TRACE(kind);
        TempDirectory place;
        writeRar5(place / "race.rar", {StoredEntry::file("race.txt", "ours")});
        const fs::path rival = place / "race.txt";
        h.madeByOthers = {"race.txt"};
        h.reports.clear();
        h.isCancelled = [&](int) {
            if (allWritten(h) && !fs::exists(fs::symlink_status(rival)))
                makeRival(rival);
            return false;
        };
        Outcome outcome = h.extract(place / "race.rar");
        ASSERT_TRUE(outcome.succeeded()) << outcome.error();
        EXPECT_EQ(outcome.output(), place / "race 2.txt");
        EXPECT_EQ(readFile(place / "race 2.txt"), "ours");
        EXPECT_EQ(directoryNames(place.path()),
                  (std::set<std::string>{"race.rar", "race.txt", "race 2.txt"}));
    }
    EXPECT_TRUE(fs::is_empty(dir)) << "nothing went through the link";
}

}  // namespace
}  // namespace tovani::testing
