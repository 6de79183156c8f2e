// DecoderReader reads the decoder's answer to one request and holds it to the
// protocol: frames no larger than the limit, payloads that decode exactly,
// messages in their order (Opened, then Entry with its Data, then one
// Finished), Data only after an entry that carries data and only when
// extracting. Anything else, a stream that ends early included, is a
// DecoderFault: the decoder crashed, was killed or is no longer trusted.
// With a data ring, a chunk in it must lie in the slot whose turn it is;
// its length comes from the socket, read once, never from the ring.
//
//   DecoderReader reader(source, /*forExtraction=*/true);
//   for (;;) {
//       DecoderReader::Message message = reader.next();
//       if (auto* chunk = std::get_if<DecoderReader::Data>(&message)) sink.write(chunk->bytes);
//       ...
//       if (std::holds_alternative<DecoderProtocol::Finished>(message)) break;
//   }
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>
#include <variant>
#include <vector>

#include "TovaniCore/DecoderProtocol.h"

namespace tovani {

class DecoderFault : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class DecoderReader {
public:
    // What the entries' names and link targets of one answer may add up to:
    // a million entries with paths of 128 bytes, while whatever keeps them
    // stays far from the memory a hostile decoder would like it to take.
    static constexpr std::uint64_t kMaxNameBytesPerAnswer = 128ULL * 1024 * 1024;

    // Reads up to buffer.size() bytes into buffer; returns how many, 0 at the
    // end of the stream. Throws DecoderFault when reading fails.
    using ByteSource = std::function<std::size_t(std::span<std::byte> buffer)>;

    // A chunk of the current entry's data, valid until the next call of
    // next(). inRing: it lies in the ring, whose slot the caller frees once
    // done with it.
    struct Data {
        std::span<const std::byte> bytes;
        bool inRing = false;
    };
    using Message = std::variant<DecoderProtocol::Opened, DecoderProtocol::EntryRecord, Data,
                                 DecoderProtocol::Finished>;

    // ring: the engine's read-only view of the data ring, empty for none;
    // whole slots of DecoderProtocol::kMaxChunk.
    DecoderReader(ByteSource source, bool forExtraction,
                  std::span<const std::byte> ring = std::span<const std::byte>());

    // The next message; throws DecoderFault. Must not be called again once it
    // returned Finished.
    [[nodiscard]] Message next();

private:
    enum class State { start, opened, inEntry, inDataEntry, finished };

    // Makes at least size unread bytes available in buffer_.
    void fill(std::size_t size);
    Message accept(DecoderProtocol::MessageType type, std::span<const std::byte> payload);

    Data fromRing(std::span<const std::byte> payload);

    ByteSource source_;
    bool forExtraction_;
    std::span<const std::byte> ring_;
    // How many chunks came through the ring: the next one's slot.
    std::uint64_t ringChunks_ = 0;
    State state_ = State::start;
    std::vector<std::byte> buffer_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::uint64_t nameBytes_ = 0;
};

}  // namespace tovani
