#include "TovaniCore/SpaceRequirement.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "TovaniCore/ExtractionError.h"
#include "TovaniCore/PathSanitizer.h"

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
    // The empty file takes no block.
    EXPECT_EQ(SpaceRequirement::bytes(entries, 512), (3 + 6) * 512u);
    SpaceRequirement::Tally tally(512);
    for (const ArchiveEntry& item : entries) {
        tally.add(item);
    }
    EXPECT_EQ(tally.items(), 4u + 6u);
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
    // 2 blocks each for big and its two copies, 1 for the link; the hard link
    // and the copy of nothing write nothing.
    EXPECT_EQ(SpaceRequirement::bytes(entries, 512), (3 * 2 + 1) * 512u);
}

TEST(SpaceRequirement, ACopyTakesTheSizeOfTheLargestFileItsSourceNameMayStandFor) {
    // A later file of the same name replaces an earlier one; "A" and "a" are
    // one name on a case-insensitive volume. Either way the copy is sized by
    // the largest file its source has named.
    const std::vector<ArchiveEntry> shrunk = {file("a", 1000), file("a", 10),
                                              entry("copy", ArchiveEntry::Copy{"a"})};
    EXPECT_EQ(SpaceRequirement::bytes(shrunk, 512), (2 + 1 + 2) * 512u);
    const std::vector<ArchiveEntry> grown = {file("a", 10), file("a", 1000),
                                             entry("copy", ArchiveEntry::Copy{"a"})};
    EXPECT_EQ(SpaceRequirement::bytes(grown, 512), (1 + 2 + 2) * 512u);
    const std::vector<ArchiveEntry> cased = {file("Dir/BIG", 1000),
                                             entry("copy", ArchiveEntry::Copy{"dir/big"})};
    EXPECT_EQ(SpaceRequirement::bytes(cased, 512), (2 + 2 + 1) * 512u);
}

// One file of 1000 bytes (two blocks of 512) and links or copies naming it
// through chains: each copy writes the whole file at the chain's end; a hard
// link, a dangling or a forward reference takes no block. Every entry but a
// hard link takes an inode.
TEST(SpaceRequirement, CopiesAreSizedByTheFileAtTheEndOfAnyChain) {
    using Copy = ArchiveEntry::Copy;
    using Hard = ArchiveEntry::HardLink;
    const struct {
        const char* name;
        std::vector<ArchiveEntry> links;
        std::uint64_t blocks;
        std::uint64_t items;
    } cases[] = {
        {"copy of a hard link", {entry("h", Hard{"big"}), entry("c", Copy{"h"})}, 2, 1},
        {"hard link of a copy",
         {entry("c", Copy{"big"}), entry("h", Hard{"c"}), entry("c2", Copy{"./h"})},
         2 + 2,
         2},
        {"chain of hard links",
         {entry("h1", Hard{"big"}), entry("h2", Hard{"h1"}), entry("h3", Hard{"h2"}),
          entry("c", Copy{"h3"})},
         2,
         1},
        {"hard link copy bomb",
         {entry("h", Hard{"big"}), entry("c1", Copy{"h"}), entry("c2", Copy{"h"}),
          entry("c3", Copy{"h"})},
         3 * 2,
         3},
        {"copy of a link to itself", {entry("h", Hard{"h"}), entry("c", Copy{"h"})}, 0, 1},
        {"cycle", {entry("x", Hard{"y"}), entry("y", Hard{"x"}), entry("c", Copy{"y"})}, 0, 1},
        {"dangling", {entry("h", Hard{"gone"}), entry("c", Copy{"h"})}, 0, 1},
        {"forward", {entry("c", Copy{"later"}), file("later", 1000)}, 2, 2},
        {"symbolic link",
         {entry("s", ArchiveEntry::SymbolicLink{"big"}, 3), entry("c", Copy{"s"})},
         1,
         2},
    };
    for (const auto& [name, links, blocks, items] : cases) {
        std::vector<ArchiveEntry> entries = {file("big", 1000)};
        entries.insert(entries.end(), links.begin(), links.end());
        // big's two blocks and inode, then the links'.
        EXPECT_EQ(SpaceRequirement::bytes(entries, 512), (2 + blocks) * 512u) << name;
        SpaceRequirement::Tally tally(512);
        for (const ArchiveEntry& item : entries) {
            tally.add(item);
        }
        EXPECT_EQ(tally.items(), 1 + items) << name;
    }
}

TEST(SpaceRequirement, TallyRefusesMoreEntriesThanTheLimit) {
    SpaceRequirement::Tally tally(512);
    const ArchiveEntry empty = file("f", 0);
    for (std::size_t count = 0; count < PathSanitizer::maxEntries; ++count) {
        tally.add(empty);
    }
    EXPECT_THROW(tally.add(empty), ExtractionError);
    try {
        tally.add(empty);
    } catch (const ExtractionError& error) {
        EXPECT_EQ(error, ExtractionError::outOfMemory());
    }
}

TEST(SpaceRequirement, TallyKeepsBoundedNamesWhateverTheDecoderSends) {
    // Distinct folders of the longest path each: kept until the bound, here
    // a small one, so that the test sorts little.
    constexpr std::size_t bound = 4 * 1024 * 1024;
    SpaceRequirement::Tally tally(512, bound);
    std::string stem(200, 'n');
    for (int level = 1; level < 20; ++level) {
        stem += "/" + std::string(200, 'n');
    }
    const std::size_t fits = bound / PathSanitizer::maxPathBytes;
    std::size_t added = 0;
    try {
        for (; added < 2 * fits; ++added) {
            tally.add(file(stem + "/" + std::to_string(added) + "/f", 0));
        }
        ADD_FAILURE() << "kept every name";
    } catch (const ExtractionError& error) {
        EXPECT_EQ(error, ExtractionError::outOfMemory());
    }
    EXPECT_GE(added, fits);
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
