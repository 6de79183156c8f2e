// ArchiveListing is the result of listing an archive: its flags, every entry
// in archive order, and the volume files involved (the opened file first,
// then each further volume in the order visited), and the confinement layers
// its reader ran without.
//
//   ArchiveListing listing = engine.list(archive, std::nullopt);
//   for (const ArchiveEntry& e : listing.entries) { ... }
#pragma once

#include <filesystem>
#include <vector>

#include "TovaniCore/ArchiveEntry.h"
#include "TovaniCore/ArchiveInfo.h"
#include "TovaniCore/MissingConfinement.h"

namespace tovani {

struct ArchiveListing {
    ArchiveInfo info;
    std::vector<ArchiveEntry> entries;
    std::vector<std::filesystem::path> files;
    MissingConfinement missingConfinement;

    bool operator==(const ArchiveListing&) const = default;
};

}  // namespace tovani
