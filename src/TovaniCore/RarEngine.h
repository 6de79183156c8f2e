// RarEngine is the library's ArchiveEngine for RAR archives. The UnRAR
// library runs in a decoder process of its own (ostrel-decoder, confined to
// reading the archive's volumes), one per call, so that a fault in the
// library fails that call as a damaged archive instead of ending this
// process. It holds no state between calls.
//
//   auto engine = std::make_shared<RarEngine>();
//   ArchiveListing listing = engine->list("/tmp/set.part1.rar", std::nullopt);
//   // listing.files: set.part1.rar, then every further volume visited
#pragma once

#include "TovaniCore/ArchiveEngine.h"
#include "TovaniCore/Export.h"

namespace tovani {

class TOVANI_EXPORT RarEngine final : public ArchiveEngine {
public:
    RarEngine() = default;
    // Runs the given decoder program instead of the one installed beside
    // this library (tests use a build with fault switches).
    explicit RarEngine(std::filesystem::path decoder);

    std::filesystem::path firstVolume(const std::filesystem::path& file) const override;
    std::vector<std::filesystem::path> volumesFrom(
        const std::filesystem::path& volume) const override;
    ArchiveListing list(const std::filesystem::path& archive,
                        const std::optional<std::string>& password,
                        const Cancellation& cancellation = Cancellation::never()) const override;
    void extract(const std::filesystem::path& archive, const std::optional<std::string>& password,
                 ArchiveEntrySink& into,
                 const Cancellation& cancellation = Cancellation::never()) const override;
    ArchiveListing scan(const std::filesystem::path& archive,
                        const std::optional<std::string>& password,
                        const std::function<void(const ArchiveEntry&)>& visit,
                        const Cancellation& cancellation = Cancellation::never()) const override;

private:
    std::optional<std::filesystem::path> decoder_;
};

}  // namespace tovani
