#include "DecoderHelper/DecodeBackend.h"

#include "DecoderHelper/LibarchiveBackend.h"
#include "DecoderHelper/RarBackend.h"

namespace tovani {

std::unique_ptr<DecodeBackend> DecodeBackend::make(DecoderProtocol::Backend backend) {
    switch (backend) {
        case DecoderProtocol::Backend::libarchive:
            return std::make_unique<LibarchiveBackend>();
        case DecoderProtocol::Backend::rar:
            break;
    }
    return std::make_unique<RarBackend>();
}

}  // namespace tovani
