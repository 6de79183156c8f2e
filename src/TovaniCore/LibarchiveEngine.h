// LibarchiveEngine is the library's ArchiveEngine for zip, 7z, tar, cpio and
// single compressed files (a raw file's one entry is named after the archive
// without its compression suffix: "notes.txt.gz" holds "notes.txt"). libarchive runs in the same
// confined decoder process as the RAR engine's library (ostrel-decoder), one per call, and the
// engine checks everything it answers. It holds no state between calls.
//
//   auto engine = std::make_shared<LibarchiveEngine>();
//   ArchiveListing listing = engine->list("/tmp/photos.tar.gz", std::nullopt);
#pragma once

#include "TovaniCore/ArchiveEngine.h"
#include "TovaniCore/Export.h"

namespace tovani {

class TOVANI_EXPORT LibarchiveEngine final : public ArchiveEngine {
public:
    LibarchiveEngine() = default;
    // Runs the given decoder program instead of the one installed beside
    // this library (tests use a build with fault switches).
    explicit LibarchiveEngine(std::filesystem::path decoder);

    // Sets cut byte by byte (photos.7z.001, .002, …); any other file stands alone.
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
