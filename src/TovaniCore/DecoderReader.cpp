#include "TovaniCore/DecoderReader.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace tovani {

namespace {

using DecoderProtocol::MessageType;

// One full data frame per read at most: large enough that reading costs
// little per byte, small enough to keep the engine's memory flat (a larger
// frame grows the buffer once).
constexpr std::size_t kReadSize = DecoderProtocol::kMaxChunk + DecoderProtocol::kFrameHeaderSize;

// The largest payload each message may have, checked before it is read.
std::size_t largestPayload(MessageType type) {
    switch (type) {
        case MessageType::opened:
            // Flags, absent layers, container.
            return 3;
        case MessageType::entry:
            // Two texts with their lengths, kind, flags and the fixed fields.
            return 2 * (4 + DecoderProtocol::kMaxNameBytes) + 2 + 3 * 8 + 4;
        case MessageType::data:
            return DecoderProtocol::kMaxChunk;
        case MessageType::ringData:
            return 8;
        case MessageType::finished:
            return DecoderProtocol::kMaxPayload;
        case MessageType::request:
            break;
    }
    return 0;
}

}  // namespace

DecoderReader::DecoderReader(ByteSource source, bool forExtraction, std::span<const std::byte> ring)
    : source_(std::move(source)),
      forExtraction_(forExtraction),
      ring_(ring.first(ring.size() - ring.size() % DecoderProtocol::kMaxChunk)),
      buffer_(kReadSize) {}

void DecoderReader::fill(std::size_t size) {
    if (end_ - begin_ >= size) {
        return;
    }
    if (begin_ == end_) {
        begin_ = end_ = 0;
    }
    // Move the unread rest to the front only when the frame would not fit
    // behind it, and grow only for a frame larger than the buffer.
    if (begin_ > 0 && begin_ + size > buffer_.size()) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (buffer_.size() < begin_ + size) {
        buffer_.resize(begin_ + size);
    }
    while (end_ - begin_ < size) {
        const std::size_t got =
            source_(std::span<std::byte>(buffer_.data() + end_, buffer_.size() - end_));
        if (got == 0) {
            throw DecoderFault("the decoder's stream ended early");
        }
        end_ += got;
    }
}

DecoderReader::Message DecoderReader::next() {
    if (state_ == State::finished) {
        throw DecoderFault("read past the end of the answer");
    }
    fill(DecoderProtocol::kFrameHeaderSize);
    const std::span<const std::byte, DecoderProtocol::kFrameHeaderSize> header(
        buffer_.data() + begin_, DecoderProtocol::kFrameHeaderSize);
    const auto type = static_cast<MessageType>(header[0]);
    const std::uint32_t size = DecoderProtocol::payloadSize(header);
    if (size > largestPayload(type)) {
        throw DecoderFault(size > DecoderProtocol::kMaxPayload ? "oversized message"
                                                               : "unexpected message");
    }
    fill(DecoderProtocol::kFrameHeaderSize + size);
    const std::span<const std::byte> payload(
        buffer_.data() + begin_ + DecoderProtocol::kFrameHeaderSize, size);
    begin_ += DecoderProtocol::kFrameHeaderSize + size;
    try {
        return accept(type, payload);
    } catch (const DecoderProtocol::Malformed& malformed) {
        throw DecoderFault(malformed.what());
    }
}

DecoderReader::Message DecoderReader::accept(MessageType type, std::span<const std::byte> payload) {
    switch (type) {
        case MessageType::opened:
            if (state_ != State::start) {
                break;
            }
            state_ = State::opened;
            return DecoderProtocol::decodeOpened(payload);
        case MessageType::entry: {
            if (state_ == State::start) {
                break;
            }
            DecoderProtocol::EntryRecord entry = DecoderProtocol::decodeEntry(payload);
            nameBytes_ += entry.name.size() + entry.target.size();
            if (nameBytes_ > kMaxNameBytesPerAnswer) {
                throw DecoderFault("names beyond the answer's budget");
            }
            state_ = forExtraction_ && DecoderProtocol::carriesData(entry) ? State::inDataEntry
                                                                           : State::inEntry;
            return entry;
        }
        case MessageType::data:
            if (state_ != State::inDataEntry) {
                break;
            }
            return Data{payload};
        case MessageType::ringData:
            if (state_ != State::inDataEntry || ring_.empty()) {
                break;
            }
            return fromRing(payload);
        case MessageType::finished: {
            DecoderProtocol::Finished finished = DecoderProtocol::decodeFinished(payload);
            // The stage must fit what was seen: a failed open comes first, an
            // entry's failure needs an entry.
            const bool fits =
                finished.status == DecoderProtocol::Status::ok
                    ? state_ != State::start
                    : (finished.stage == DecoderProtocol::Stage::opening) ==
                              (state_ == State::start) &&
                          (finished.stage != DecoderProtocol::Stage::processingEntry ||
                           state_ == State::inEntry || state_ == State::inDataEntry);
            if (!fits) {
                break;
            }
            state_ = State::finished;
            return finished;
        }
        default:
            break;
    }
    throw DecoderFault("unexpected message");
}

DecoderReader::Data DecoderReader::fromRing(std::span<const std::byte> payload) {
    // Decoded from the reader's own copy of the frame, checked, and used as
    // checked: nothing of it is read from the shared memory.
    const DecoderProtocol::RingData chunk = DecoderProtocol::decodeRingData(payload);
    const std::size_t slots = ring_.size() / DecoderProtocol::kMaxChunk;
    const std::size_t slot = static_cast<std::size_t>(ringChunks_ % slots);
    if (chunk.offset != slot * DecoderProtocol::kMaxChunk || chunk.length == 0 ||
        chunk.length > DecoderProtocol::kMaxChunk) {
        throw DecoderFault("a chunk outside its slot of the ring");
    }
    ++ringChunks_;
    return Data{ring_.subspan(chunk.offset, chunk.length), true};
}

}  // namespace tovani
