#include "TovaniCore/SpaceRequirement.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "TovaniCore/ExtractionError.h"

namespace tovani {
namespace {

ArchiveEntry entry(std::string path, ArchiveEntry::Kind kind, std::uint64_t size = 0) {
    return ArchiveEntry{std::move(path), std::move(kind), size, 0, std::nullopt, 0644, false};
}
ArchiveEntry file(std::string path, std::uint64_t size) {
    return entry(std::move(path), ArchiveEntry::File{}, size);
}
ArchiveEntry folder(std::string path) {
    return entry(std::move(path), ArchiveEntry::Directory{});
}

TEST(SpaceRequirement, EveryImpliedFolderCountsOnceWhateverTheOrderOrSpelling) {
    // Folders a, a/b, a/b/c, a-c, a-c/d and z: "a-c" sorts between "a" and
    // "a/b" as text, which must not count "a" twice.
    const std::vector<ArchiveEntry> entries = {file("a/b/c/one", 1), file("a-c/d/two", 1),
                                               folder("a/b"),        file("./a//b/three", 1),
                                               folder("z/"),         file("top", 0)};
    EXPECT_EQ(SpaceRequirement::bytes(entries, 512), (4 + 6) * 512u);
    // Without a block size, only declared bytes count.
    EXPECT_EQ(SpaceRequirement::bytes(entries, 0), 3u);
}

TEST(SpaceRequirement, FilesTakeWholeBlocksAndCopiesTheirSourceSize) {
    const std::vector<ArchiveEntry> entries = {file("big", 1000),
                                               entry("copy", ArchiveEntry::Copy{"./big"}),
                                               entry("copy of copy", ArchiveEntry::Copy{"copy"}),
                                               entry("hard", ArchiveEntry::HardLink{"big"}, 1000),
                                               entry("missing", ArchiveEntry::Copy{"nowhere"}),
                                               entry("link", ArchiveEntry::SymbolicLink{"big"}, 3)};
    // 2 blocks each for big and its two copies, 1 for each of the rest.
    EXPECT_EQ(SpaceRequirement::bytes(entries, 512), (3 * 2 + 3) * 512u);
}

TEST(SpaceRequirement, ACopyTakesTheSizeOfTheLatestFileOfItsSourceName) {
    const std::vector<ArchiveEntry> shrunk = {file("a", 1000), file("a", 10),
                                              entry("copy", ArchiveEntry::Copy{"a"})};
    EXPECT_EQ(SpaceRequirement::bytes(shrunk, 512), (2 + 1 + 1) * 512u);
    const std::vector<ArchiveEntry> grown = {file("a", 10), file("a", 1000),
                                             entry("copy", ArchiveEntry::Copy{"a"})};
    EXPECT_EQ(SpaceRequirement::bytes(grown, 512), (1 + 2 + 2) * 512u);
}

TEST(SpaceRequirement, TallyRefusesAnUnsafePathWithoutCountingIt) {
    SpaceRequirement::Tally tally(512);
    tally.add(file("a/one", 1000));
    try {
        tally.add(file("../../outside/two", 1000));
        ADD_FAILURE() << "an unsafe path was counted";
    } catch (const ExtractionError& error) {
        EXPECT_EQ(error, ExtractionError::unsafePath("../../outside/two"));
    }
    EXPECT_EQ(tally.bytes(), (2 + 1) * 512u);
}

TEST(SpaceRequirement, HugeDeclaredSizesSaturate) {
    const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ(SpaceRequirement::bytes(std::vector{file("a", max - 1), file("b", 2)}, 0), max);
    EXPECT_EQ(SpaceRequirement::bytes(std::vector{file("a", max - 1)}, 4096), max);
}

}  // namespace
}  // namespace tovani
