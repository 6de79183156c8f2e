// LibarchiveBackend reads zip, 7z, tar, cpio and single compressed files
// through libarchive, only ever as a reader. It registers exactly those
// formats and the gzip, bzip2, xz, lzma, zstd and lz4 filters, each built
// into the library: a filter that would start a program instead is refused.
// The request's volumes are read as one stream, in order (a byte-split set).
// A file no format claims, or one only the raw format takes without any
// compression around it, is no archive.
//
//   LibarchiveBackend backend;
//   backend.preload();
//   DecoderProtocol::Opened opened;
//   backend.open(request, opened);  // opened.container: zip, sevenZip, tar, cpio or raw
#pragma once

#include <locale.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "DecoderHelper/DecodeBackend.h"

struct archive;
struct archive_entry;

namespace tovani {

class LibarchiveBackend final : public DecodeBackend {
public:
    LibarchiveBackend() = default;
    ~LibarchiveBackend() override;
    LibarchiveBackend(const LibarchiveBackend&) = delete;
    LibarchiveBackend& operator=(const LibarchiveBackend&) = delete;

    void preload() override;
    DecoderProtocol::Status open(const DecoderProtocol::Request& request,
                                 DecoderProtocol::Opened& opened) override;
    DecoderProtocol::Status next(DecoderProtocol::EntryRecord& record, bool& atEnd) override;
    DecoderProtocol::Status extract(DataRelay& relay) override;
    DecoderProtocol::Status skip() override;
    void close(DecoderProtocol::Finished& finished) override;

private:
    // The failure libarchive reports, in the protocol's terms.
    DecoderProtocol::Status failure() const;
    DecoderProtocol::Status recordOf(DecoderProtocol::EntryRecord& record) const;
    // A link whose target is stored encrypted, which libarchive reads as
    // it is stored (or not at all).
    bool hasHiddenTarget() const;
    // Whether the archive's end, reached now, is the end its writer marked.
    bool endIsMarked() const;

    archive* archive_ = nullptr;
    archive_entry* entry_ = nullptr;
    // The first header is read while opening, to learn the container.
    bool firstPending_ = false;
    bool firstAtEnd_ = false;
    bool hasPassword_ = false;
    // A compressed file of no content, which libarchive opens as nothing.
    bool emptyRaw_ = false;
    bool emptyListed_ = false;
    DecoderProtocol::Container container_ = DecoderProtocol::Container::raw;
    std::vector<std::string> volumes_;
    // Where the last entry's data ended in the uncompressed stream; -1 before.
    std::int64_t entryEnd_ = -1;
    locale_t utf8_ = static_cast<locale_t>(0);
};

}  // namespace tovani
