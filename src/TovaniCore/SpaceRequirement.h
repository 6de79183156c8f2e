// SpaceRequirement estimates how many bytes an archive's entries take on a
// volume: each file its size in whole blocks, every entry at least one
// block, every directory one block, those its entries' paths imply included,
// and a copy as much as the entry it copies, whatever size it declares.
//
//   std::uint64_t needed = SpaceRequirement::bytes(listing.entries, 4096);
//   if (available < needed) { /* refuse before writing anything */ }
//
// Tally counts the same while entries stream past, keeping only what later
// entries may refer to (distinct folder paths, files larger than a block):
//
//   SpaceRequirement::Tally tally(4096);
//   engine.scan(archive, password, [&](const ArchiveEntry& e) { tally.add(e); });
//   if (available < tally.bytes()) { ... }
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "TovaniCore/ArchiveEntry.h"

namespace tovani::SpaceRequirement {

class Tally {
public:
    // A blockSize of 0 counts sizes alone.
    explicit Tally(std::uint64_t blockSize);

    // Judges the entry's path with PathSanitizer::components before counting
    // anything, and throws its error for an unsafe one.
    void add(const ArchiveEntry& entry);
    // Saturates at 2^64 - 1.
    std::uint64_t bytes() const;

private:
    std::uint64_t onDisk(std::uint64_t size) const;
    void addFolder(std::string path);
    // Sorts folderPaths_ and drops repeats.
    void compact() const;

    std::uint64_t blockSize_;
    std::uint64_t total_ = 0;
    // The folder of every entry, by sanitized path; each folder and those
    // enclosing it are counted once in bytes(). A folder's entries usually
    // come together, so a repeat of the last one is not kept, and repeats
    // are dropped whenever the list has doubled.
    mutable std::vector<std::string> folderPaths_;
    mutable std::size_t compactedSize_ = 0;
    // Sizes of files a copy may refer to, by sanitized path; a file of one
    // block or less is left out, as a copy of it takes a block anyway. Later
    // entries of the same name replace earlier ones, as on disk.
    std::unordered_map<std::string, std::uint64_t> largeFiles_;
};

// Saturates at 2^64 - 1. Entry paths must have passed
// PathSanitizer::components. A blockSize of 0 counts sizes alone.
std::uint64_t bytes(std::span<const ArchiveEntry> entries, std::uint64_t blockSize);

}  // namespace tovani::SpaceRequirement
