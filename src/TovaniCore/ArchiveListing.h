// ArchiveListing is the result of listing an archive: its flags, every entry
// in archive order, and the volume files involved (the opened file first,
// then each further volume in the order visited).
//
//   ArchiveListing listing = engine.list(archive, std::nullopt);
//   for (const ArchiveEntry& e : listing.entries) { ... }
#pragma once

#include <filesystem>
#include <vector>

#include "TovaniCore/ArchiveEntry.h"
#include "TovaniCore/ArchiveInfo.h"

namespace tovani {

struct ArchiveListing {
    ArchiveInfo info;
    std::vector<ArchiveEntry> entries;
    std::vector<std::filesystem::path> files;

    bool operator==(const ArchiveListing&) const = default;
};

}  // namespace tovani
