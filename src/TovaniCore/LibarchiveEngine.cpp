#include "TovaniCore/LibarchiveEngine.h"

#include <utility>

#include "TovaniCore/DecoderSession.h"
#include "TovaniCore/SplitVolumes.h"

namespace tovani {

namespace fs = std::filesystem;

namespace {

DecoderSession::Call callFor(const LibarchiveEngine& engine, const std::optional<fs::path>& decoder,
                             const fs::path& archive) {
    return DecoderSession::callFor(engine, decoder, DecoderProtocol::Backend::libarchive, archive);
}

}  // namespace

LibarchiveEngine::LibarchiveEngine(std::filesystem::path decoder) : decoder_(std::move(decoder)) {}

ArchiveListing LibarchiveEngine::list(const fs::path& archive,
                                      const std::optional<std::string>& password,
                                      const Cancellation& cancellation) const {
    return DecoderSession::list(callFor(*this, decoder_, archive), password, cancellation);
}

ArchiveListing LibarchiveEngine::scan(const fs::path& archive,
                                      const std::optional<std::string>& password,
                                      const std::function<void(const ArchiveEntry&)>& visit,
                                      const Cancellation& cancellation) const {
    return DecoderSession::scan(callFor(*this, decoder_, archive), password, visit, cancellation);
}

void LibarchiveEngine::extract(const fs::path& archive, const std::optional<std::string>& password,
                               ArchiveEntrySink& into, const Cancellation& cancellation) const {
    DecoderSession::extract(callFor(*this, decoder_, archive), password, into, cancellation);
}

fs::path LibarchiveEngine::firstVolume(const fs::path& file) const {
    return SplitVolumes::isPartName(file.filename().string()) ? SplitVolumes::firstVolume(file)
                                                              : file;
}

std::vector<fs::path> LibarchiveEngine::volumesFrom(const fs::path& volume) const {
    return SplitVolumes::isPartName(volume.filename().string()) ? SplitVolumes::volumesFrom(volume)
                                                                : std::vector<fs::path>{volume};
}

}  // namespace tovani
