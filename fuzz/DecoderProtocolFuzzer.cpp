// Arbitrary bytes as the decoder's answer, read by the engine's reader: it
// must end in a DecoderFault or a complete answer, never crash, hang or take
// memory beyond its frame limit. The first byte picks listing or extraction;
// extraction reads with a data ring, as the engine does, and every chunk's
// bytes are read, so that one outside its memory shows.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "TovaniCore/DecoderReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    static const std::vector<std::byte> ring(tovani::DecoderProtocol::kRingSlots *
                                             tovani::DecoderProtocol::kMaxChunk);
    const bool forExtraction = (data[0] & 1) != 0;
    std::span<const std::uint8_t> rest(data + 1, size - 1);
    // Small pieces too, so that frames split across reads are covered.
    const std::size_t step = (data[0] >> 1) == 0 ? rest.size() + 1 : (data[0] >> 1);
    tovani::DecoderReader reader(
        [&rest, step](std::span<std::byte> buffer) {
            const std::size_t count = std::min({buffer.size(), rest.size(), step});
            if (count > 0) {
                std::memcpy(buffer.data(), rest.data(), count);
            }
            rest = rest.subspan(count);
            return count;
        },
        forExtraction,
        forExtraction ? std::span<const std::byte>(ring) : std::span<const std::byte>());
    try {
        for (;;) {
            tovani::DecoderReader::Message message = reader.next();
            if (const auto* chunk = std::get_if<tovani::DecoderReader::Data>(&message)) {
                volatile std::byte sink{0};
                for (const std::byte byte : chunk->bytes) {
                    sink = sink ^ byte;
                }
            }
            if (std::holds_alternative<tovani::DecoderProtocol::Finished>(message)) {
                break;
            }
        }
    } catch (const tovani::DecoderFault&) {
    }
    return 0;
}
