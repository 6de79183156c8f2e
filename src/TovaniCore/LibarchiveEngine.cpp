#include "TovaniCore/LibarchiveEngine.h"

#include <utility>

namespace tovani {

// Not built yet: every call fails as a format this version cannot unpack.
LibarchiveEngine::LibarchiveEngine(std::filesystem::path decoder) : decoder_(std::move(decoder)) {}

ArchiveListing LibarchiveEngine::list(const std::filesystem::path&,
                                      const std::optional<std::string>&,
                                      const Cancellation&) const {
    throw ExtractionError::unsupportedFormat();
}

void LibarchiveEngine::extract(const std::filesystem::path&, const std::optional<std::string>&,
                               ArchiveEntrySink&, const Cancellation&) const {
    throw ExtractionError::unsupportedFormat();
}

}  // namespace tovani
