#include "DecoderHelper/DecodeRun.h"

#include <signal.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "RarBridge/tovani_bridge.h"

namespace tovani::DecodeRun {

namespace {

using DecoderProtocol::MessageType;

// Admits the request's volumes one after the other, nothing else.
struct VolumeGate {
    const std::vector<std::string>& volumes;
    std::size_t reached = 0;
    std::optional<std::string> refused = std::nullopt;
};

bool admitVolume(const char* path, void* context) {
    auto* gate = static_cast<VolumeGate*>(context);
    if (gate->reached + 1 < gate->volumes.size() && gate->volumes[gate->reached + 1] == path) {
        ++gate->reached;
        return true;
    }
    gate->refused = path;
    return false;
}

struct DataRelay {
    MessageWriter& out;
    const TestFault& fault;
    int chunks = 0;
};

#ifdef OSTREL_DECODER_TEST_HOOKS
[[noreturn]] void crash() {
    raise(SIGSEGV);
    _exit(127);
}

bool relayData(const uint8_t* data, size_t size, void* context) {
    auto* relay = static_cast<DataRelay*>(context);
    const auto* bytes = reinterpret_cast<const std::byte*>(data);
    const bool sent = relay->out.sendData(bytes != nullptr ? std::span<const std::byte>(bytes, size)
                                                           : std::span<const std::byte>());
    if (relay->fault.kind == TestFault::Kind::crashAtData && ++relay->chunks == relay->fault.at) {
        relay->out.flush();
        crash();
    }
    return sent;
}
#else
bool relayData(const uint8_t* data, size_t size, void* context) {
    auto* relay = static_cast<DataRelay*>(context);
    const auto* bytes = reinterpret_cast<const std::byte*>(data);
    return relay->out.sendData(bytes != nullptr ? std::span<const std::byte>(bytes, size)
                                                : std::span<const std::byte>());
}
#endif

// The library's marker for a size it was not told (an archive written from
// a stream).
constexpr std::uint64_t kUnknownSize = 0x7fffffff7fffffffULL;

// The bridge's statuses in the protocol's terms. The end of the archive is
// no failure and never asked about; a cancelled call is the channel lost.
DecoderProtocol::Status statusOf(tovani_status status) {
    using DecoderProtocol::Status;
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

// Longer texts than the protocol carries: no path that long can be written.
bool fitsTheProtocol(const DecoderProtocol::EntryRecord& record) {
    return record.name.size() <= DecoderProtocol::kMaxNameBytes &&
           record.target.size() <= DecoderProtocol::kMaxNameBytes;
}

#ifdef OSTREL_DECODER_TEST_HOOKS
void applyEntryFault(const TestFault& fault, int entryNumber, MessageWriter& out) {
    if (fault.at != entryNumber) {
        return;
    }
    switch (fault.kind) {
        case TestFault::Kind::crashAtEntry:
            out.flush();
            crash();
        case TestFault::Kind::closeAtEntry:
            out.flush();
            _exit(0);
        case TestFault::Kind::garbageAtEntry:
            // A second Opened, out of order.
            out.send(MessageType::opened, DecoderProtocol::encode(DecoderProtocol::Opened{}));
            out.flush();
            _exit(0);
        default:
            break;
    }
}
#else
void applyEntryFault(const TestFault&, int, MessageWriter&) {}
#endif

}  // namespace

void refuse(MessageWriter& out) {
    DecoderProtocol::Finished finished;
    finished.status = DecoderProtocol::Status::confinementFailed;
    finished.stage = DecoderProtocol::Stage::opening;
    out.send(MessageType::finished, DecoderProtocol::encode(finished));
    out.flush();
}

void answer(DecoderProtocol::Request& request, const DecoderProtocol::AbsentLayers& absent,
            MessageWriter& out, const TestFault& fault) {
    tovani_archive* handle = nullptr;
    tovani_archive_info info{};
    tovani_status status =
        tovani_open(request.archive.c_str(), request.forExtraction,
                    request.password ? request.password->c_str() : nullptr, &handle, &info);
    if (request.password) {
        DecoderProtocol::wipe(*request.password);
    }
    if (status != TOVANI_OK || handle == nullptr) {
        DecoderProtocol::Finished finished;
        finished.status =
            status == TOVANI_OK ? DecoderProtocol::Status::engineFailure : statusOf(status);
        finished.stage = DecoderProtocol::Stage::opening;
        out.send(MessageType::finished, DecoderProtocol::encode(finished));
        out.flush();
        return;
    }
    VolumeGate gate{request.volumes};
    tovani_set_volume_filter(handle, admitVolume, &gate);
    DecoderProtocol::Opened opened;
    opened.flags = {info.is_volume, info.is_first_volume, info.is_solid,
                    info.has_encrypted_headers};
    opened.absent = absent;
    out.send(MessageType::opened, DecoderProtocol::encode(opened));

    DecoderProtocol::Finished finished;
    finished.stage = DecoderProtocol::Stage::readingHeader;
    DataRelay relay{out, fault};
    for (int entryNumber = 1; !out.lost(); ++entryNumber) {
        tovani_entry entry{};
        status = tovani_read_entry(handle, &entry);
        if (status == TOVANI_END_OF_ARCHIVE) {
            break;
        }
        if (status != TOVANI_OK) {
            finished.status = statusOf(status);
            break;
        }
        const DecoderProtocol::EntryRecord record = recordOf(entry);
        if (!fitsTheProtocol(record)) {
            finished.status = DecoderProtocol::Status::nameTooLong;
            break;
        }
        applyEntryFault(fault, entryNumber, out);
        out.send(MessageType::entry, DecoderProtocol::encode(record));
        status = request.forExtraction && DecoderProtocol::carriesData(record)
                     ? tovani_extract_entry(handle, relayData, &relay)
                     : tovani_skip_entry(handle);
        if (status != TOVANI_OK) {
            finished.status = statusOf(status);
            finished.stage = DecoderProtocol::Stage::processingEntry;
            if (status == TOVANI_OUT_OF_MEMORY) {
                finished.requiredMemory = entry.dictionary_size;
            }
            break;
        }
    }
    finished.missingVolume = tovani_missing_volume(handle);
    // The library may take a refused volume for any failure, or for the end
    // of the archive. It is reported as missing, as it is where the file
    // system rules keep the library from opening it at all.
    if (gate.refused) {
        finished.status = DecoderProtocol::Status::volumeMissing;
        finished.missingVolume = *gate.refused;
    }
    const std::size_t count = tovani_next_volume_count(handle);
    for (std::size_t index = 0; index < count; ++index) {
        finished.volumes.emplace_back(tovani_next_volume_path(handle, index));
    }
    // Closing can fail too; the engine hears of success only after it.
    tovani_close(handle);
    out.send(MessageType::finished, DecoderProtocol::encode(finished));
    out.flush();
}

}  // namespace tovani::DecodeRun
