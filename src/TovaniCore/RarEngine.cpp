#include "TovaniCore/RarEngine.h"

#include <utility>
#include <vector>

#include "TovaniCore/DecoderSession.h"
#include "TovaniCore/VolumeResolver.h"

namespace tovani {

namespace fs = std::filesystem;

namespace {

DecoderSession::Call callFor(const RarEngine& engine, const std::optional<fs::path>& decoder,
                             const fs::path& archive) {
    return DecoderSession::callFor(engine, decoder, DecoderProtocol::Backend::rar, archive);
}

}  // namespace

RarEngine::RarEngine(std::filesystem::path decoder) : decoder_(std::move(decoder)) {}

ArchiveListing RarEngine::list(const fs::path& archive, const std::optional<std::string>& password,
                               const Cancellation& cancellation) const {
    return DecoderSession::list(callFor(*this, decoder_, archive), password, cancellation);
}

ArchiveListing RarEngine::scan(const fs::path& archive, const std::optional<std::string>& password,
                               const std::function<void(const ArchiveEntry&)>& visit,
                               const Cancellation& cancellation) const {
    return DecoderSession::scan(callFor(*this, decoder_, archive), password, visit, cancellation);
}

void RarEngine::extract(const fs::path& archive, const std::optional<std::string>& password,
                        ArchiveEntrySink& into, const Cancellation& cancellation) const {
    DecoderSession::extract(callFor(*this, decoder_, archive), password, into, cancellation);
}

fs::path RarEngine::firstVolume(const fs::path& file) const {
    return VolumeResolver::firstVolume(file);
}

std::vector<fs::path> RarEngine::volumesFrom(const fs::path& volume) const {
    return VolumeResolver::volumesFrom(volume);
}

}  // namespace tovani
