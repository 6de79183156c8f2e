#include "DecoderHelper/RarBackend.h"

#include <cstdint>
#include <span>

namespace tovani {

namespace {

using DecoderProtocol::Status;

bool admitVolume(const char* path, void* context) {
    auto* gate = static_cast<RarBackend::VolumeGate*>(context);
    if (gate->reached + 1 < gate->volumes.size() && gate->volumes[gate->reached + 1] == path) {
        ++gate->reached;
        return true;
    }
    gate->refused = path;
    return false;
}

bool relayData(const uint8_t* data, size_t size, void* context) {
    const auto* bytes = reinterpret_cast<const std::byte*>(data);
    return static_cast<DataRelay*>(context)->deliver(
        bytes != nullptr ? std::span<const std::byte>(bytes, size) : std::span<const std::byte>());
}

// The library's marker for a size it was not told (an archive written from
// a stream).
constexpr std::uint64_t kUnknownSize = 0x7fffffff7fffffffULL;

// The bridge's statuses in the protocol's terms. The end of the archive is
// no failure and never asked about; a cancelled call is the channel lost.
Status statusOf(tovani_status status) {
    switch (status) {
        case TOVANI_OK:
        case TOVANI_END_OF_ARCHIVE:
            return Status::ok;
        case TOVANI_CANNOT_OPEN:
            return Status::cannotOpen;
        case TOVANI_NOT_AN_ARCHIVE:
            return Status::notAnArchive;
        case TOVANI_PASSWORD_REQUIRED:
            return Status::passwordRequired;
        case TOVANI_WRONG_PASSWORD:
            return Status::wrongPassword;
        case TOVANI_DAMAGED:
            return Status::damaged;
        case TOVANI_VOLUME_MISSING:
            return Status::volumeMissing;
        case TOVANI_OUT_OF_MEMORY:
            return Status::outOfMemory;
        case TOVANI_UNSUPPORTED_FORMAT:
            return Status::unsupportedFormat;
        case TOVANI_NAME_TOO_LONG:
            return Status::nameTooLong;
        case TOVANI_CANCELLED:
        case TOVANI_ENGINE_FAILURE:
            break;
    }
    return Status::engineFailure;
}

DecoderProtocol::EntryKind kindOf(const tovani_entry& entry) {
    using DecoderProtocol::EntryKind;
    // A link type wins over the directory flag.
    switch (entry.link_type) {
        case TOVANI_LINK_SYMBOLIC:
            return EntryKind::symbolicLink;
        case TOVANI_LINK_HARD:
            return EntryKind::hardLink;
        case TOVANI_LINK_COPY:
            return EntryKind::fileCopy;
        case TOVANI_LINK_NONE:
            break;
    }
    return entry.is_directory ? EntryKind::directory : EntryKind::file;
}

// FILE_ATTRIBUTE_READONLY in the attribute word of an entry from Windows.
constexpr std::uint32_t kWindowsReadOnly = 0x01;

DecoderProtocol::EntryRecord recordOf(const tovani_entry& entry) {
    DecoderProtocol::EntryRecord record;
    record.name = entry.name_utf8;
    record.target = entry.target_utf8;
    record.kind = kindOf(entry);
    if (entry.unpacked_size != kUnknownSize) {
        record.unpackedSize = entry.unpacked_size;
    }
    record.packedSize = entry.packed_size;
    if (entry.has_mtime) {
        record.modified = DecoderProtocol::Time{entry.mtime_seconds, entry.mtime_nanoseconds};
    }
    if (entry.has_unix_mode) {
        record.unixMode = static_cast<std::uint16_t>(entry.attributes & 07777);
    } else if (!entry.is_directory && (entry.attributes & kWindowsReadOnly) != 0) {
        // As unrar x does: a read-only file from Windows is read-only here.
        record.unixMode = 0444;
    }
    record.isEncrypted = entry.is_encrypted;
    return record;
}

}  // namespace

RarBackend::~RarBackend() {
    tovani_close(handle_);
}

// What the bridge and the library load lazily (the UTF-8 locale the bridge
// runs the library under) is loaded by a first open of no file.
void RarBackend::preload() {
    tovani_archive* handle = nullptr;
    tovani_archive_info info{};
    tovani_open("", false, nullptr, &handle, &info);
    tovani_close(handle);
}

Status RarBackend::open(const DecoderProtocol::Request& request, DecoderProtocol::Opened& opened) {
    tovani_archive_info info{};
    const tovani_status status =
        tovani_open(request.archive.c_str(), request.forExtraction,
                    request.password ? request.password->c_str() : nullptr, &handle_, &info);
    if (status != TOVANI_OK || handle_ == nullptr) {
        return status == TOVANI_OK ? Status::engineFailure : statusOf(status);
    }
    gate_.volumes = request.volumes;
    tovani_set_volume_filter(handle_, admitVolume, &gate_);
    opened.flags = {info.is_volume, info.is_first_volume, info.is_solid,
                    info.has_encrypted_headers};
    opened.container = DecoderProtocol::Container::rar;
    return Status::ok;
}

Status RarBackend::next(DecoderProtocol::EntryRecord& record, bool& atEnd) {
    tovani_entry entry{};
    const tovani_status status = tovani_read_entry(handle_, &entry);
    atEnd = status == TOVANI_END_OF_ARCHIVE;
    if (status != TOVANI_OK) {
        return statusOf(status);
    }
    record = recordOf(entry);
    dictionarySize_ = entry.dictionary_size;
    return Status::ok;
}

Status RarBackend::extract(DataRelay& relay) {
    return statusOf(tovani_extract_entry(handle_, relayData, &relay));
}

Status RarBackend::skip() {
    return statusOf(tovani_skip_entry(handle_));
}

void RarBackend::close(DecoderProtocol::Finished& finished) {
    finished.missingVolume = tovani_missing_volume(handle_);
    if (finished.status == Status::outOfMemory && dictionarySize_ != 0) {
        finished.requiredMemory = dictionarySize_;
    }
    // The library may take a refused volume for any failure, or for the end
    // of the archive. It is reported as missing, as it is where the file
    // system rules keep the library from opening it at all.
    if (gate_.refused) {
        finished.status = Status::volumeMissing;
        finished.missingVolume = *gate_.refused;
    }
    const std::size_t count = tovani_next_volume_count(handle_);
    for (std::size_t index = 0; index < count; ++index) {
        finished.volumes.emplace_back(tovani_next_volume_path(handle_, index));
    }
    // Closing can fail too; the engine hears of success only after it.
    tovani_close(handle_);
    handle_ = nullptr;
}

}  // namespace tovani
