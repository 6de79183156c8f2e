#include "TovaniCore/DecoderSession.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>
#include <variant>

#include "TovaniCore/DecoderProcess.h"
#include "TovaniCore/DecoderReader.h"

namespace tovani::DecoderSession {

namespace fs = std::filesystem;

namespace {

using DecoderProtocol::EntryKind;
using DecoderProtocol::Status;

// The memory this machine has, 0 when it cannot be told.
std::uint64_t machineMemory() {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0
               ? static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize)
               : 0;
}

// The one place where the decoder's statuses become errors. missingVolume is
// the path the library asked for, "" when none was recorded; requiredMemory
// what the entry's dictionary or model asked for. That size is named only
// when the machine truly lacks it: the decoder has room for anything the
// machine's memory holds, so a smaller one it names ran short otherwise.
ExtractionError errorFromStatus(Status status, const ArchiveEntry* entry,
                                const std::string& missingVolume,
                                std::optional<std::uint64_t> requiredMemory) {
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
            if (requiredMemory && *requiredMemory > machineMemory()) {
                return ExtractionError::outOfMemory(requiredMemory);
            }
            return ExtractionError::outOfMemory();
        case Status::unsupportedEncryption:
            return ExtractionError::unsupportedEncryption();
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
        case EntryKind::special:
            return ArchiveEntry::Special{};
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
    if (record.modified) {
        entry.modificationDate = Timestamp{record.modified->seconds, record.modified->nanoseconds};
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
    DecoderCall(const Call& call, bool forExtraction, const std::optional<std::string>& password,
                const Cancellation& cancellation)
        : archive_(call.volumes.front()),
          cancellation_(cancellation),
          // Only an extraction has data to carry.
          process_(call.program, forExtraction),
          volumes_(call.volumes),
          reader_(
              [this](std::span<std::byte> buffer) {
                  return process_.receive(buffer, cancellation_);
              },
              forExtraction, process_.ring()) {
        DecoderProtocol::Request request;
        request.backend = call.backend;
        request.forExtraction = forExtraction;
        request.password = password;
        request.archive = archive_.string();
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
            throw errorFromStatus(finished->status, nullptr, std::string(),
                                  finished->requiredMemory);
        }
        const auto& opened = std::get<DecoderProtocol::Opened>(message);
        raw_ = opened.container == DecoderProtocol::Container::raw;
        const DecoderProtocol::AbsentLayers& absent = opened.absent;
        missing_ = MissingConfinement{absent.fileSystemRules, absent.systemCallFilter,
                                      absent.addressSpaceLimit};
        const DecoderProtocol::ArchiveFlags& flags = opened.flags;
        return ArchiveInfo{flags.isVolume, flags.isFirstVolume, flags.isSolid,
                           flags.hasEncryptedHeaders};
    }

    // The confinement layers the decoder ran without, once opened.
    const MissingConfinement& missingConfinement() const { return missing_; }

    // An entry as the decoder reported it; a raw container's one file is
    // named here, after the archive, and a second entry in one is a lie.
    ArchiveEntry entry(const DecoderProtocol::EntryRecord& record) {
        ArchiveEntry entry = entryFromRecord(record);
        if (raw_) {
            if (++rawEntries_ > 1 || record.kind != EntryKind::file) {
                throw ExtractionError::damaged(std::nullopt);
            }
            entry.path = rawEntryName(archive_);
        }
        return entry;
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
                                  finished.missingVolume, finished.requiredMemory);
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
    bool raw_ = false;
    bool holdsSlot_ = false;
    MissingConfinement missing_;
    int rawEntries_ = 0;
};

}  // namespace

Call callFor(const ArchiveEngine& engine, const std::optional<fs::path>& decoder,
             DecoderProtocol::Backend backend, const fs::path& archive) {
    return Call{decoder ? *decoder : DecoderProcess::installedPath(), backend,
                engine.volumesFrom(archive)};
}

std::string rawEntryName(const fs::path& archive) {
    static constexpr std::array<std::string_view, 6> suffixes = {".gz",   ".bz2", ".xz",
                                                                 ".lzma", ".zst", ".lz4"};
    const std::string name = archive.filename().string();
    for (const std::string_view suffix : suffixes) {
        if (name.size() > suffix.size() && name.ends_with(suffix)) {
            return name.substr(0, name.size() - suffix.size());
        }
    }
    return name;
}

ArchiveListing list(const Call& call, const std::optional<std::string>& password,
                    const Cancellation& cancellation) {
    std::vector<ArchiveEntry> entries;
    ArchiveListing listing = scan(
        call, password, [&](const ArchiveEntry& entry) { entries.push_back(entry); }, cancellation);
    listing.entries = std::move(entries);
    return listing;
}

ArchiveListing scan(const Call& call, const std::optional<std::string>& password,
                    const std::function<void(const ArchiveEntry&)>& visit,
                    const Cancellation& cancellation) {
    DecoderCall decoder(call, false, password, cancellation);
    const ArchiveInfo info = decoder.open();
    // Only the last entry is kept: a failure while reading it names it.
    std::optional<ArchiveEntry> last;
    for (;;) {
        DecoderReader::Message message = decoder.next();
        if (auto* record = std::get_if<DecoderProtocol::EntryRecord>(&message)) {
            last = decoder.entry(*record);
            visit(*last);
            continue;
        }
        const auto& finished = std::get<DecoderProtocol::Finished>(message);
        std::vector<fs::path> files = decoder.finish(finished, last ? &*last : nullptr);
        return ArchiveListing{info, {}, std::move(files), decoder.missingConfinement()};
    }
}

void extract(const Call& call, const std::optional<std::string>& password, ArchiveEntrySink& into,
             const Cancellation& cancellation) {
    DecoderCall decoder(call, true, password, cancellation);
    decoder.open();
    std::optional<ArchiveEntry> current;
    bool wanted = false;
    bool carriesData = false;
    DeliveredSize delivered;
    for (;;) {
        DecoderReader::Message message = decoder.next();
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
            decoder.finish(*finished, current ? &*current : nullptr);
            return;
        }
        if (carriesData) {
            delivered.end();
        }
        if (wanted) {
            into.finish(*current);
        }
        const auto& record = std::get<DecoderProtocol::EntryRecord>(message);
        current = decoder.entry(record);
        carriesData = DecoderProtocol::carriesData(record);
        delivered.start(record, *current);
        wanted = into.begin(*current) && current->isFile();
    }
}

}  // namespace tovani::DecoderSession
