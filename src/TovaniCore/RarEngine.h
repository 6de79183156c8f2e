// RarEngine is the library's ArchiveEngine for RAR archives, over the UnRAR
// library. It holds no state: each call opens its own handle and closes it
// before returning, on success and on failure alike.
//
//   auto engine = std::make_shared<RarEngine>();
//   ArchiveListing listing = engine->list("/tmp/set.part1.rar", std::nullopt);
//   // listing.files: set.part1.rar, then every further volume visited
#pragma once

#include "TovaniCore/ArchiveEngine.h"

namespace tovani {

class RarEngine final : public ArchiveEngine {
public:
    RarEngine() = default;

    ArchiveListing list(const std::filesystem::path& archive,
                        const std::optional<std::string>& password) const override;
    void extract(const std::filesystem::path& archive, const std::optional<std::string>& password,
                 ArchiveEntrySink& into) const override;
};

}  // namespace tovani
