// RarBackend reads RAR archives through the bridge over the UnRAR library.
// The library opens the request's archive and asks for each further volume
// by name; only the request's volumes, in their order, are admitted, and a
// refused one is reported as missing.
//
//   RarBackend backend;
//   backend.preload();
//   DecoderProtocol::Opened opened;
//   backend.open(request, opened);  // then next(), extract() or skip(), close()
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "DecoderHelper/DecodeBackend.h"
#include "RarBridge/tovani_bridge.h"

namespace tovani {

class RarBackend final : public DecodeBackend {
public:
    RarBackend() = default;
    ~RarBackend() override;
    RarBackend(const RarBackend&) = delete;
    RarBackend& operator=(const RarBackend&) = delete;

    void preload() override;
    DecoderProtocol::Status open(const DecoderProtocol::Request& request,
                                 DecoderProtocol::Opened& opened) override;
    DecoderProtocol::Status next(DecoderProtocol::EntryRecord& record, bool& atEnd) override;
    DecoderProtocol::Status extract(DataRelay& relay) override;
    DecoderProtocol::Status skip() override;
    void close(DecoderProtocol::Finished& finished) override;

    // Admits the request's volumes one after the other, nothing else.
    struct VolumeGate {
        std::vector<std::string> volumes;
        std::size_t reached = 0;
        std::optional<std::string> refused = std::nullopt;
    };

private:
    tovani_archive* handle_ = nullptr;
    VolumeGate gate_;
    // The current entry's dictionary, named when the library runs out of memory.
    std::uint64_t dictionarySize_ = 0;
};

}  // namespace tovani
