#include "TovaniCore/RarEngine.h"

#include <algorithm>
#include <cerrno>
#include <functional>
#include <span>
#include <utility>
#include <vector>

#include "TovaniCore/DecoderProcess.h"
#include "TovaniCore/DecoderProtocol.h"
#include "TovaniCore/DecoderReader.h"
#include "TovaniCore/VolumeResolver.h"

namespace tovani {

namespace fs = std::filesystem;

namespace {

using DecoderProtocol::EntryKind;
using DecoderProtocol::Status;

// The one place where the decoder's statuses become errors. missingVolume is
// the path the library asked for, "" when none was recorded.
ExtractionError errorFromStatus(Status status, const ArchiveEntry* entry,
                                const std::string& missingVolume) {
    switch (status) {
        case Status::cannotOpen:
            return ExtractionError::cannotOpen();
        case Status::notAnArchive:
            return ExtractionError::notAnArchive();
        case Status::passwordRequired:
            return ExtractionError::passwordRequired();
        case Status::wrongPassword:
            return ExtractionError::wrongPassword();
        case Status::damaged:
            return ExtractionError::damaged(
                entry != nullptr ? std::optional<std::string>(entry->path) : std::nullopt);
        case Status::volumeMissing:
            return ExtractionError::volumeMissing(fs::path(missingVolume).filename().string());
        case Status::outOfMemory:
            return ExtractionError::outOfMemory();
        case Status::unsupportedFormat:
            return ExtractionError::unsupportedFormat();
        case Status::nameTooLong:
            return ExtractionError::writeFailed(entry != nullptr ? entry->path : std::string(),
                                                ENAMETOOLONG);
        case Status::confinementFailed:
            return ExtractionError::confinementFailed();
        case Status::engineFailure:
        case Status::ok:
            break;
    }
    // The reader admits no other value; ok is never asked about.
    return ExtractionError::engineFailure();
}

ArchiveEntry::Kind kindFromRecord(const DecoderProtocol::EntryRecord& record) {
    switch (record.kind) {
        case EntryKind::fileCopy:
            return ArchiveEntry::Copy{record.target};
        case EntryKind::hardLink:
            return ArchiveEntry::HardLink{record.target};
        case EntryKind::symbolicLink:
            if (record.target.empty()) {
                return ArchiveEntry::SymbolicLink{std::nullopt};
            }
            return ArchiveEntry::SymbolicLink{record.target};
        case EntryKind::directory:
            return ArchiveEntry::Directory{};
        case EntryKind::file:
            break;
    }
    return ArchiveEntry::File{};
}

ArchiveEntry entryFromRecord(const DecoderProtocol::EntryRecord& record) {
    ArchiveEntry entry;
    entry.path = record.name;
    entry.kind = kindFromRecord(record);
    // A size the archive does not state counts as 0 towards the space check;
    // writing still stops at a full disk.
    entry.unpackedSize = record.unpackedSize.value_or(0);
    entry.packedSize = record.packedSize;
    if (record.mtimeNs) {
        entry.modificationDate =
            timestampFromSeconds(static_cast<double>(*record.mtimeNs) / 1'000'000'000.0);
    }
    entry.posixPermissions = record.unixMode;
    entry.isEncrypted = record.isEncrypted;
    return entry;
}

// Holds one file entry's data to the size its record declared, as it
// arrives: more fails before the excess reaches the sink, less fails when
// the entry ends. An entry of unstated size is not held.
class DeliveredSize {
public:
    void start(const DecoderProtocol::EntryRecord& record, const ArchiveEntry& entry) {
        declared_ = record.unpackedSize;
        delivered_ = 0;
        path_ = entry.path;
    }
    void add(std::size_t size) {
        delivered_ += size;
        if (declared_ && delivered_ > *declared_) {
            throw ExtractionError::damaged(path_);
        }
    }
    void end() const {
        if (declared_ && delivered_ != *declared_) {
            throw ExtractionError::damaged(path_);
        }
    }

private:
    std::optional<std::uint64_t> declared_;
    std::uint64_t delivered_ = 0;
    std::string path_;
};

// One engine call's decoder: started with the request, read until its
// Finished message. Destroying it kills and reaps the decoder, so an error
// thrown anywhere (the sink's included) leaves no process behind.
class DecoderCall {
public:
    DecoderCall(const std::filesystem::path& program, const fs::path& archive, bool forExtraction,
                const std::optional<std::string>& password, const Cancellation& cancellation)
        : archive_(archive),
          cancellation_(cancellation),
          // Only an extraction has data to carry.
          process_(program, forExtraction),
          volumes_(VolumeResolver::volumesFrom(archive)),
          reader_(
              [this](std::span<std::byte> buffer) {
                  return process_.receive(buffer, cancellation_);
              },
              forExtraction, process_.ring()) {
        DecoderProtocol::Request request;
        request.forExtraction = forExtraction;
        request.password = password;
        request.archive = archive.string();
        for (const fs::path& volume : volumes_) {
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
    // A chunk in the ring was written out before this call: its slot is
    // handed back first. A decoder that has sent all and exited needs no
    // slot back; what it sent is still read.
    DecoderReader::Message next() {
        if (holdsSlot_) {
            holdsSlot_ = false;
            try {
                const std::byte freed{1};
                process_.send(std::span(&freed, 1), cancellation_);
            } catch (const DecoderFault&) {
            }
        }
        try {
            DecoderReader::Message message = reader_.next();
            const auto* chunk = std::get_if<DecoderReader::Data>(&message);
            holdsSlot_ = chunk != nullptr && chunk->inRing;
            return message;
        } catch (const DecoderFault&) {
            throw ExtractionError::damaged(std::nullopt);
        }
    }

    // The archive flags, or the failure to open.
    ArchiveInfo open() {
        DecoderReader::Message message = next();
        if (auto* finished = std::get_if<DecoderProtocol::Finished>(&message)) {
            // No handle was left to ask which volume was missing.
            throw errorFromStatus(finished->status, nullptr, std::string());
        }
        const DecoderProtocol::ArchiveFlags& flags =
            std::get<DecoderProtocol::Opened>(message).flags;
        return ArchiveInfo{flags.isVolume, flags.isFirstVolume, flags.isSolid,
                           flags.hasEncryptedHeaders};
    }

    // Ends the call: throws the failure, or returns the archive's files (the
    // archive, then every further volume the decoder read). These are what
    // the app may move to the Trash, so they come from the set resolved here:
    // the decoder's list only picks from it, and a decoder that names any
    // other file is broken or taken over, and nothing it said is kept.
    std::vector<fs::path> finish(const DecoderProtocol::Finished& finished,
                                 const ArchiveEntry* entry) const {
        if (finished.status != Status::ok) {
            const bool duringEntry = finished.stage == DecoderProtocol::Stage::processingEntry;
            throw errorFromStatus(finished.status, duringEntry ? entry : nullptr,
                                  finished.missingVolume);
        }
        std::vector<fs::path> files{archive_};
        for (const std::string& named : finished.volumes) {
            const auto resolved =
                std::find_if(volumes_.begin() + 1, volumes_.end(),
                             [&named](const fs::path& volume) { return volume.native() == named; });
            if (resolved == volumes_.end()) {
                throw ExtractionError::damaged(std::nullopt);
            }
            if (std::find(files.begin(), files.end(), *resolved) == files.end()) {
                files.push_back(*resolved);
            }
        }
        return files;
    }

private:
    fs::path archive_;
    const Cancellation& cancellation_;
    DecoderProcess process_;
    // The archive first, as the request names them.
    std::vector<fs::path> volumes_;
    DecoderReader reader_;
    bool holdsSlot_ = false;
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
    bool carriesData = false;
    DeliveredSize delivered;
    for (;;) {
        DecoderReader::Message message = call.next();
        if (auto* chunk = std::get_if<DecoderReader::Data>(&message)) {
            delivered.add(chunk->bytes.size());
            if (wanted) {
                into.write(chunk->bytes);
            }
            continue;
        }
        // Any further message means the library verified the previous
        // entry's data.
        if (auto* finished = std::get_if<DecoderProtocol::Finished>(&message)) {
            const bool entryFailed = finished->status != Status::ok &&
                                     finished->stage == DecoderProtocol::Stage::processingEntry;
            if (carriesData && !entryFailed) {
                delivered.end();
            }
            if (wanted && !entryFailed) {
                into.finish(*current);
            }
            call.finish(*finished, current ? &*current : nullptr);
            return;
        }
        if (carriesData) {
            delivered.end();
        }
        if (wanted) {
            into.finish(*current);
        }
        const auto& record = std::get<DecoderProtocol::EntryRecord>(message);
        current = entryFromRecord(record);
        carriesData = DecoderProtocol::carriesData(record);
        delivered.start(record, *current);
        wanted = into.begin(*current) && current->isFile();
    }
}

fs::path RarEngine::firstVolume(const fs::path& file) const {
    return VolumeResolver::firstVolume(file);
}

std::vector<fs::path> RarEngine::volumesFrom(const fs::path& volume) const {
    return VolumeResolver::volumesFrom(volume);
}

}  // namespace tovani
