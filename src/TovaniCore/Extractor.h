// Extractor runs one extraction from start to finish: first volume,
// writability, the refusal of volumes that are no file, listing with
// password questions, the unsafe-path and free-space checks, staging through
// a StagingWriter, and placement of the result next to the archive under a
// name that never replaces anything. It always removes its private workspace
// before returning, and ends with cancelled() soon after the handlers'
// Cancellation is cancelled, in any stage.
//
//   Extractor extractor(std::make_shared<RarEngine>());
//   ExtractionResult result = extractor.extract(
//       "/home/me/Downloads/movie.part2.rar", ExtractionOptions{}, handlers);
//   // result.output(): /home/me/Downloads/movie (or "movie 2" if taken)
//
// Fails with ExtractionError, except that an unreadable staging directory
// passes on the platform's std::filesystem::filesystem_error.
#pragma once

#include <filesystem>
#include <memory>

#include "TovaniCore/ArchiveEngine.h"
#include "TovaniCore/Export.h"

namespace tovani {

class TOVANI_EXPORT Extractor {
public:
    explicit Extractor(std::shared_ptr<const ArchiveEngine> engine);

    // Synchronous; calls the handlers on the calling thread.
    ExtractionResult extract(const std::filesystem::path& archive, const ExtractionOptions& options,
                             const ExtractionHandlers& handlers) const;

private:
    std::shared_ptr<const ArchiveEngine> engine_;
};

}  // namespace tovani
