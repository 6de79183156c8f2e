#include "InProcessRarEngine.h"

#include <cerrno>
#include <exception>
#include <span>
#include <utility>
#include <vector>

#include "RarBridge/tovani_bridge.h"
#include "TovaniCore/VolumeResolver.h"

namespace tovani {

namespace fs = std::filesystem;

namespace {

// As RarEngine maps the statuses its decoder reports.
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

ArchiveEntry::Kind kindFromRecord(const tovani_entry& record) {
    switch (record.link_type) {
        case TOVANI_LINK_COPY:
            return ArchiveEntry::Copy{record.target_utf8};
        case TOVANI_LINK_HARD:
            return ArchiveEntry::HardLink{record.target_utf8};
        case TOVANI_LINK_SYMBOLIC:
            if (*record.target_utf8 == '\0') {
                return ArchiveEntry::SymbolicLink{std::nullopt};
            }
            return ArchiveEntry::SymbolicLink{std::string(record.target_utf8)};
        default:
            if (record.is_directory) {
                return ArchiveEntry::Directory{};
            }
            return ArchiveEntry::File{};
    }
}

// Copies everything out of the handle's storage.
ArchiveEntry entryFromRecord(const tovani_entry& record) {
    ArchiveEntry entry;
    entry.path = record.name_utf8;
    entry.kind = kindFromRecord(record);
    entry.unpackedSize = record.unpacked_size;
    entry.packedSize = record.packed_size;
    if (record.has_mtime) {
        entry.modificationDate = Timestamp{record.mtime_seconds, record.mtime_nanoseconds};
    }
    if (record.has_unix_mode) {
        entry.posixPermissions = static_cast<std::uint16_t>(record.attributes & 07777);
    }
    entry.isEncrypted = record.is_encrypted;
    return entry;
}

// Carries one file entry's data from the bridge into the sink. The bridge
// cannot pass exceptions, so the sink's is parked here and rethrown once the
// bridge has returned.
struct DataRelay {
    ArchiveEntrySink& sink;
    std::exception_ptr error;
};

bool relayData(const uint8_t* data, size_t size, void* context) noexcept {
    auto* relay = static_cast<DataRelay*>(context);
    try {
        const auto* bytes = reinterpret_cast<const std::byte*>(data);
        relay->sink.write(bytes != nullptr ? std::span<const std::byte>(bytes, size)
                                           : std::span<const std::byte>());
        return true;
    } catch (...) {
        relay->error = std::current_exception();
        return false;
    }
}

// Admits the set's volumes one after the other, nothing else, as the
// decoder does with the volumes RarEngine sends it.
struct VolumeGate {
    std::vector<std::string> volumes;
    std::size_t reached = 0;
    std::optional<std::string> refused = std::nullopt;
};

bool admitVolume(const char* path, void* context) noexcept {
    auto* gate = static_cast<VolumeGate*>(context);
    if (gate->reached + 1 < gate->volumes.size() && gate->volumes[gate->reached + 1] == path) {
        ++gate->reached;
        return true;
    }
    gate->refused = path;
    return false;
}

// One open bridge handle for the duration of one engine call; destroying it
// closes the handle, which also wipes the handle's copy of the password.
class Session {
public:
    Session(const fs::path& archive, bool forExtraction,
            const std::optional<std::string>& password) {
        for (const fs::path& volume : VolumeResolver::volumesFrom(archive)) {
            gate_.volumes.push_back(volume.string());
        }
        tovani_archive_info flags{};
        const tovani_status status =
            tovani_open(archive.c_str(), forExtraction, password ? password->c_str() : nullptr,
                        &handle_, &flags);
        if (status != TOVANI_OK || handle_ == nullptr) {
            tovani_close(handle_);
            handle_ = nullptr;
            // No handle is left to ask which volume was missing.
            throw status == TOVANI_OK ? ExtractionError::engineFailure()
                                      : errorFromStatus(status, nullptr, std::string());
        }
        tovani_set_volume_filter(handle_, admitVolume, &gate_);
        info_ = ArchiveInfo{flags.is_volume, flags.is_first_volume, flags.is_solid,
                            flags.has_encrypted_headers};
    }

    ~Session() { tovani_close(handle_); }

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    const ArchiveInfo& info() const { return info_; }

    // A refused volume counts as missing whatever status the library gave,
    // the end of the archive included, as in the decoder.
    void check(tovani_status status, const ArchiveEntry* entry) const {
        if (gate_.refused) {
            throw ExtractionError::volumeMissing(fs::path(*gate_.refused).filename().string());
        }
        if (status == TOVANI_OK || status == TOVANI_END_OF_ARCHIVE) {
            return;
        }
        throw errorFromStatus(status, entry, std::string(tovani_missing_volume(handle_)));
    }

    // The next entry, or none at the end of the archive.
    std::optional<ArchiveEntry> readEntry() {
        tovani_entry record{};
        const tovani_status status = tovani_read_entry(handle_, &record);
        check(status, nullptr);
        if (status == TOVANI_END_OF_ARCHIVE) {
            return std::nullopt;
        }
        return entryFromRecord(record);
    }

    void skipEntry(const ArchiveEntry& entry) { check(tovani_skip_entry(handle_), &entry); }

    void extractEntry(const ArchiveEntry& entry, ArchiveEntrySink& sink) {
        DataRelay relay{sink, nullptr};
        const tovani_status status = tovani_extract_entry(handle_, relayData, &relay);
        if (relay.error) {
            std::rethrow_exception(relay.error);
        }
        check(status, &entry);
        sink.finish(entry);
    }

    std::vector<fs::path> nextVolumes() const {
        std::vector<fs::path> volumes;
        const size_t count = tovani_next_volume_count(handle_);
        for (size_t index = 0; index < count; ++index) {
            volumes.emplace_back(tovani_next_volume_path(handle_, index));
        }
        return volumes;
    }

private:
    ArchiveInfo info_;
    VolumeGate gate_;
    tovani_archive* handle_ = nullptr;
};

}  // namespace

ArchiveListing InProcessRarEngine::list(const fs::path& archive,
                                        const std::optional<std::string>& password,
                                        const Cancellation& cancellation) const {
    Session session(archive, false, password);
    std::vector<ArchiveEntry> entries;
    while (std::optional<ArchiveEntry> entry = session.readEntry()) {
        if (cancellation.isCancelled()) {
            throw ExtractionError::cancelled();
        }
        entries.push_back(std::move(*entry));
        session.skipEntry(entries.back());
    }
    std::vector<fs::path> files{archive};
    for (fs::path& volume : session.nextVolumes()) {
        files.push_back(std::move(volume));
    }
    return ArchiveListing{session.info(), std::move(entries), std::move(files)};
}

void InProcessRarEngine::extract(const fs::path& archive,
                                 const std::optional<std::string>& password, ArchiveEntrySink& into,
                                 const Cancellation& cancellation) const {
    Session session(archive, true, password);
    while (std::optional<ArchiveEntry> entry = session.readEntry()) {
        if (cancellation.isCancelled()) {
            throw ExtractionError::cancelled();
        }
        if (into.begin(*entry) && entry->isFile()) {
            session.extractEntry(*entry, into);
        } else {
            session.skipEntry(*entry);
        }
    }
}

fs::path InProcessRarEngine::firstVolume(const fs::path& file) const {
    return VolumeResolver::firstVolume(file);
}

std::vector<fs::path> InProcessRarEngine::volumesFrom(const fs::path& volume) const {
    return VolumeResolver::volumesFrom(volume);
}

}  // namespace tovani
