// SpaceRequirement estimates how many bytes and items (inodes) an archive's
// entries take on a volume: each file its size in whole blocks (an empty
// one none), every directory one block, those its entries' paths imply
// included, each item but a hard link one inode, and a copy as much as the file it finally copies,
// whatever size it declares: a copy of a hard link, of a copy, or of any chain of them, copies the
// whole file at its end.
//
//   std::uint64_t needed = SpaceRequirement::bytes(listing.entries, 4096);
//   if (available < needed) { /* refuse before writing anything */ }
//
// Tally counts the same while entries stream past, keeping only what later
// entries may refer to (distinct folder paths, files larger than a block):
//
//   SpaceRequirement::Tally tally(4096);
//   engine.scan(archive, password, [&](const ArchiveEntry& e) { tally.add(e); });
//   if (available < tally.bytes() || freeInodes < tally.items()) { ... }
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "TovaniCore/ArchiveEntry.h"

namespace tovani::SpaceRequirement {

class Tally {
public:
    // Memory a tally keeps at most for folder names and file sizes: enough
    // for half a million folders of 100-byte names beside one and a half
    // million files larger than a block, yet bounded whatever names or how
    // many a decoder sends.
    static constexpr std::size_t maxKeptBytes = 128 * 1024 * 1024;

    // A blockSize of 0 counts sizes alone. maxKept is for tests.
    explicit Tally(std::uint64_t blockSize, std::size_t maxKept = maxKeptBytes);

    // Judges the entry's path with PathSanitizer::components before counting
    // anything, and throws its error for an unsafe one. Throws
    // ExtractionError::outOfMemory past PathSanitizer::maxEntries entries, or
    // once the names it keeps would pass maxKept.
    void add(const ArchiveEntry& entry);
    // Saturates at 2^64 - 1.
    std::uint64_t bytes() const;
    // The inodes the entries make: every folder (implied ones included),
    // file, copy and link, but no hard link.
    std::uint64_t items() const;

private:
    std::uint64_t onDisk(std::uint64_t size) const;
    std::uint64_t folderCount() const;
    void addFolder(std::string path);
    void keep(std::size_t bytes);
    // The size of the file the path names, as far as the entries so far made it.
    std::uint64_t sizeNamedBy(std::string_view path) const;
    // Sorts folderPaths_ and drops repeats.
    void compact() const;

    std::uint64_t blockSize_;
    std::size_t maxKept_;
    std::uint64_t total_ = 0;
    std::size_t entries_ = 0;
    std::uint64_t madeItems_ = 0;
    std::size_t keptBytes_ = 0;
    // The folder of every entry, by sanitized path; each folder and those
    // enclosing it are counted once in bytes(). A folder's entries usually
    // come together, so a repeat of the last one is not kept, and repeats
    // are dropped whenever the list has doubled.
    mutable std::vector<std::string> folderPaths_;
    mutable std::size_t compactedSize_ = 0;
    // Sizes of the files a copy or hard link may refer to, by a hash of the
    // sanitized path with ASCII letters folded to lower case, since a
    // case-insensitive volume finds "BIG" by "big". Each key keeps the
    // largest size it has named, so that neither a replaced file, another
    // case nor a colliding name can make a copy count less than it writes.
    // A file of one block or less is left out, as a copy of it takes a block
    // anyway.
    std::unordered_map<std::uint64_t, std::uint64_t> largeFiles_;
};

// Saturates at 2^64 - 1. Entry paths must have passed
// PathSanitizer::components. A blockSize of 0 counts sizes alone.
std::uint64_t bytes(std::span<const ArchiveEntry> entries, std::uint64_t blockSize);

}  // namespace tovani::SpaceRequirement
