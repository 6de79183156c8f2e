// InProcessRarEngine runs the UnRAR library through the bridge in the
// calling process, as the engine did before the decoder was confined. It
// exists for the benchmark only (ostrel-extract-inprocess), to measure what
// the confined decoder costs or saves; it is never installed. It admits the
// same volumes and maps the bridge's statuses to the same errors as
// RarEngine, and holds no state between calls. Running in this process, it
// can only check its cancellation between entries, not wake a blocked read.
//
//   auto engine = std::make_shared<const InProcessRarEngine>();
//   int status = ExtractCommand(options, stop, engine).run();
#pragma once

#include "TovaniCore/ArchiveEngine.h"

namespace tovani {

class InProcessRarEngine final : public ArchiveEngine {
public:
    std::filesystem::path firstVolume(const std::filesystem::path& file) const override;
    std::vector<std::filesystem::path> volumesFrom(
        const std::filesystem::path& volume) const override;
    ArchiveListing list(const std::filesystem::path& archive,
                        const std::optional<std::string>& password,
                        const Cancellation& cancellation = Cancellation::never()) const override;
    void extract(const std::filesystem::path& archive, const std::optional<std::string>& password,
                 ArchiveEntrySink& into,
                 const Cancellation& cancellation = Cancellation::never()) const override;
};

}  // namespace tovani
