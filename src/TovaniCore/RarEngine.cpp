#include "TovaniCore/RarEngine.h"

#include <functional>
#include <span>
#include <utility>
#include <vector>

#include "RarBridge/tovani_bridge.h"
#include "TovaniCore/DecoderProcess.h"
#include "TovaniCore/DecoderProtocol.h"
#include "TovaniCore/DecoderReader.h"
#include "TovaniCore/VolumeResolver.h"

namespace tovani {

namespace fs = std::filesystem;

namespace {

// The one place where bridge statuses become errors. missingVolume is the
// path the library asked for, "" when none was recorded.
ExtractionError errorFromStatus(tovani_status status, const ArchiveEntry* entry,
                                const std::string& missingVolume) {
    switch (status) {
        case TOVANI_CANNOT_OPEN:
            return ExtractionError::cannotOpen();
        case TOVANI_NOT_AN_ARCHIVE:
            return ExtractionError::notAnArchive();
        case TOVANI_PASSWORD_REQUIRED:
            return ExtractionError::passwordRequired();
        case TOVANI_WRONG_PASSWORD:
            return ExtractionError::wrongPassword();
        case TOVANI_DAMAGED:
            return ExtractionError::damaged(
                entry != nullptr ? std::optional<std::string>(entry->path) : std::nullopt);
        case TOVANI_VOLUME_MISSING:
            return ExtractionError::volumeMissing(fs::path(missingVolume).filename().string());
        case TOVANI_CANCELLED:
            return ExtractionError::cancelled();
        case TOVANI_OUT_OF_MEMORY:
            return ExtractionError::outOfMemory();
        case TOVANI_UNSUPPORTED_FORMAT:
            return ExtractionError::unsupportedFormat();
        case TOVANI_NAME_TOO_LONG:
            return ExtractionError::writeFailed(entry != nullptr ? entry->path : std::string(),
                                                ENAMETOOLONG);
        default:
            return ExtractionError::engineFailure();
    }
}

ArchiveEntry::Kind kindFromRecord(const DecoderProtocol::EntryRecord& record) {
    switch (record.linkType) {
        case TOVANI_LINK_COPY:
            return ArchiveEntry::Copy{record.target};
        case TOVANI_LINK_HARD:
            return ArchiveEntry::HardLink{record.target};
        case TOVANI_LINK_SYMBOLIC:
            if (record.target.empty()) {
                return ArchiveEntry::SymbolicLink{std::nullopt};
            }
            return ArchiveEntry::SymbolicLink{record.target};
        default:
            if (record.isDirectory) {
                return ArchiveEntry::Directory{};
            }
            return ArchiveEntry::File{};
    }
}

ArchiveEntry entryFromRecord(const DecoderProtocol::EntryRecord& record) {
    ArchiveEntry entry;
    entry.path = record.name;
    entry.kind = kindFromRecord(record);
    entry.unpackedSize = record.unpackedSize;
    entry.packedSize = record.packedSize;
    if (record.hasMtime) {
        entry.modificationDate =
            timestampFromSeconds(static_cast<double>(record.mtimeNs) / 1'000'000'000.0);
    }
    if (record.hasUnixMode) {
        entry.posixPermissions = static_cast<std::uint16_t>(record.attributes & 07777);
    }
    entry.isEncrypted = record.isEncrypted;
    return entry;
}

// One engine call's decoder: started with the request, read until its
// Finished message. Destroying it kills and reaps the decoder, so an error
// thrown anywhere (the sink's included) leaves no process behind.
class DecoderCall {
public:
    DecoderCall(const std::filesystem::path& program, const fs::path& archive, bool forExtraction,
                const std::optional<std::string>& password, const Cancellation& cancellation)
        : archive_(archive),
          cancellation_(cancellation),
          process_(program),
          reader_(
              [this](std::span<std::byte> buffer) {
                  return process_.receive(buffer, cancellation_);
              },
              forExtraction) {
        DecoderProtocol::Request request;
        request.forExtraction = forExtraction;
        request.password = password;
        request.archive = archive.string();
        for (const fs::path& volume : VolumeResolver::volumesFrom(archive)) {
            request.volumes.push_back(volume.string());
        }
        std::vector<std::byte> payload = DecoderProtocol::encode(request);
        std::vector<std::byte> frame;
        DecoderProtocol::appendFrame(frame, DecoderProtocol::MessageType::request, payload);
        DecoderProtocol::wipe(payload);
        if (request.password) {
            DecoderProtocol::wipe(*request.password);
        }
        try {
            process_.send(frame, cancellation_);
        } catch (const DecoderFault&) {
            DecoderProtocol::wipe(frame);
            throw ExtractionError::damaged(std::nullopt);
        } catch (...) {
            DecoderProtocol::wipe(frame);
            throw;
        }
        DecoderProtocol::wipe(frame);
    }

    // The next message; a decoder that crashed, ended early or broke the
    // protocol fails the call as a damaged archive would.
    DecoderReader::Message next() {
        try {
            return reader_.next();
        } catch (const DecoderFault&) {
            throw ExtractionError::damaged(std::nullopt);
        }
    }

    // The archive flags, or the failure to open.
    ArchiveInfo open() {
        DecoderReader::Message message = next();
        if (auto* finished = std::get_if<DecoderProtocol::Finished>(&message)) {
            // No handle was left to ask which volume was missing.
            throw errorFromStatus(static_cast<tovani_status>(finished->status), nullptr,
                                  std::string());
        }
        const tovani_archive_info& flags = std::get<DecoderProtocol::Opened>(message).info;
        return ArchiveInfo{flags.is_volume, flags.is_first_volume, flags.is_solid,
                           flags.has_encrypted_headers};
    }

    // Ends the call: throws the failure, or returns the archive's files (the
    // archive, then every further volume the decoder read).
    std::vector<fs::path> finish(const DecoderProtocol::Finished& finished,
                                 const ArchiveEntry* entry) const {
        if (finished.status != TOVANI_OK) {
            const bool duringEntry = finished.stage == DecoderProtocol::Stage::processingEntry;
            throw errorFromStatus(static_cast<tovani_status>(finished.status),
                                  duringEntry ? entry : nullptr, finished.missingVolume);
        }
        std::vector<fs::path> files{archive_};
        files.insert(files.end(), finished.volumes.begin(), finished.volumes.end());
        return files;
    }

private:
    fs::path archive_;
    const Cancellation& cancellation_;
    DecoderProcess process_;
    DecoderReader reader_;
};

fs::path decoderProgram(const std::optional<fs::path>& chosen) {
    return chosen ? *chosen : DecoderProcess::installedPath();
}

}  // namespace

RarEngine::RarEngine(std::filesystem::path decoder) : decoder_(std::move(decoder)) {}

ArchiveListing RarEngine::list(const fs::path& archive, const std::optional<std::string>& password,
                               const Cancellation& cancellation) const {
    std::vector<ArchiveEntry> entries;
    ArchiveListing listing = scan(
        archive, password, [&](const ArchiveEntry& entry) { entries.push_back(entry); },
        cancellation);
    listing.entries = std::move(entries);
    return listing;
}

ArchiveListing RarEngine::scan(const fs::path& archive, const std::optional<std::string>& password,
                               const std::function<void(const ArchiveEntry&)>& visit,
                               const Cancellation& cancellation) const {
    DecoderCall call(decoderProgram(decoder_), archive, false, password, cancellation);
    const ArchiveInfo info = call.open();
    // Only the last entry is kept: a failure while reading it names it.
    std::optional<ArchiveEntry> last;
    for (;;) {
        DecoderReader::Message message = call.next();
        if (auto* record = std::get_if<DecoderProtocol::EntryRecord>(&message)) {
            last = entryFromRecord(*record);
            visit(*last);
            continue;
        }
        const auto& finished = std::get<DecoderProtocol::Finished>(message);
        std::vector<fs::path> files = call.finish(finished, last ? &*last : nullptr);
        return ArchiveListing{info, {}, std::move(files)};
    }
}

// The decoder streams every file's data without waiting to hear whether the
// sink wants it (a round trip per entry would cost more than the rare entry
// a sink declines); the data of a declined entry is dropped here.
void RarEngine::extract(const fs::path& archive, const std::optional<std::string>& password,
                        ArchiveEntrySink& into, const Cancellation& cancellation) const {
    DecoderCall call(decoderProgram(decoder_), archive, true, password, cancellation);
    call.open();
    std::optional<ArchiveEntry> current;
    bool wanted = false;
    for (;;) {
        DecoderReader::Message message = call.next();
        if (auto* chunk = std::get_if<DecoderReader::Data>(&message)) {
            if (wanted) {
                into.write(chunk->bytes);
            }
            continue;
        }
        // Any further message means the library verified the previous
        // entry's data.
        if (auto* finished = std::get_if<DecoderProtocol::Finished>(&message)) {
            const bool entryFailed = finished->status != TOVANI_OK &&
                                     finished->stage == DecoderProtocol::Stage::processingEntry;
            if (wanted && !entryFailed) {
                into.finish(*current);
            }
            call.finish(*finished, current ? &*current : nullptr);
            return;
        }
        if (wanted) {
            into.finish(*current);
        }
        current = entryFromRecord(std::get<DecoderProtocol::EntryRecord>(message));
        wanted = into.begin(*current) && current->isFile();
    }
}

}  // namespace tovani
