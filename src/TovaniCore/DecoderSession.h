// DecoderSession runs one engine call through the confined decoder: it starts
// ostrel-decoder, sends the request (which backend, the password, the
// volumes), and turns the checked answer into entries, data and errors. Both
// engines call it; they differ only in the backend they name and the
// volumes they resolve. It holds each file's data to its declared size,
// names a raw container's one entry after the archive, and returns as the
// archive's files only volumes from the set it was given.
//
//   DecoderSession::Call call{program, DecoderProtocol::Backend::libarchive, {archive}};
//   ArchiveListing listing = DecoderSession::scan(call, std::nullopt, visit, cancellation);
//   DecoderSession::extract(call, password, sink, cancellation);
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "TovaniCore/ArchiveEngine.h"
#include "TovaniCore/DecoderProtocol.h"

namespace tovani::DecoderSession {

struct Call {
    std::filesystem::path program;
    DecoderProtocol::Backend backend = DecoderProtocol::Backend::rar;
    // The archive first, then every volume the decoder may read after it.
    std::vector<std::filesystem::path> volumes;
};

// The call for engine's reading of archive: the decoder given (tests), or the
// one installed beside the library, and the volumes engine resolves.
Call callFor(const ArchiveEngine& engine, const std::optional<std::filesystem::path>& decoder,
             DecoderProtocol::Backend backend, const std::filesystem::path& archive);

// scan() keeping every entry.
ArchiveListing list(const Call& call, const std::optional<std::string>& password,
                    const Cancellation& cancellation);

ArchiveListing scan(const Call& call, const std::optional<std::string>& password,
                    const std::function<void(const ArchiveEntry&)>& visit,
                    const Cancellation& cancellation);

// The decoder streams every file's data without waiting to hear whether the
// sink wants it; the data of a declined entry is dropped.
void extract(const Call& call, const std::optional<std::string>& password, ArchiveEntrySink& into,
             const Cancellation& cancellation);

// The name of a single compressed file's content: the archive's file name
// without its compression suffix ("notes.txt.gz" → "notes.txt"), or with
// none, the name as it is.
std::string rawEntryName(const std::filesystem::path& archive);

}  // namespace tovani::DecoderSession
