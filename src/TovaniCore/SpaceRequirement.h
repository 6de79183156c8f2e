// SpaceRequirement estimates how many bytes an archive's entries take on a
// volume: each file its size in whole blocks, every entry at least one
// block, every directory one block, those its entries' paths imply included,
// and a copy as much as the entry it copies, whatever size it declares.
//
//   std::uint64_t needed = SpaceRequirement::bytes(listing.entries, 4096);
//   if (available < needed) { /* refuse before writing anything */ }
#pragma once

#include <cstdint>
#include <span>

#include "TovaniCore/ArchiveEntry.h"

namespace tovani::SpaceRequirement {

// Saturates at 2^64 - 1. Entry paths must have passed
// PathSanitizer::components. A blockSize of 0 counts sizes alone.
std::uint64_t bytes(std::span<const ArchiveEntry> entries, std::uint64_t blockSize);

}  // namespace tovani::SpaceRequirement
