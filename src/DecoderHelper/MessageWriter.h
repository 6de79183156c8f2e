// MessageWriter sends the decoder's messages to the engine over the channel,
// gathering small ones so that many entries of small files travel in one
// write, and passing large data chunks straight from the library's buffer.
// With a data ring, a large chunk is copied into the ring's next free slot
// and only its place travels on the socket; a slot is free again once the
// engine has sent one byte for it. Without one, it never waits for a reply.
// It never blocks on anything but the socket.
//
//   MessageWriter out(DecoderProtocol::kChannelDescriptor);
//   out.send(DecoderProtocol::MessageType::entry, DecoderProtocol::encode(entry));
//   out.sendData(chunk);      // split into pieces of at most kMaxChunk
//   out.flush();
//   if (out.lost()) _exit(0); // the engine is gone
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "TovaniCore/DecoderProtocol.h"

namespace tovani {

class MessageWriter {
public:
    explicit MessageWriter(int descriptor);

    // Whole slots of DecoderProtocol::kMaxChunk, mapped for the whole run.
    void useRing(std::span<std::byte> ring);

    // Each returns false once the channel is lost; nothing is sent after that.
    bool send(DecoderProtocol::MessageType type, std::span<const std::byte> payload);
    bool sendData(std::span<const std::byte> bytes);
    bool flush();

    bool lost() const { return lost_; }

private:
    bool writeAll(std::span<const std::byte> first, std::span<const std::byte> second);
    bool sendInRing(std::span<const std::byte> chunk);
    // Waits until a slot is free; false once the channel is lost.
    bool awaitFreeSlot();

    int descriptor_;
    bool lost_ = false;
    std::vector<std::byte> pending_;
    std::span<std::byte> ring_;
    std::size_t slots_ = 0;
    std::size_t nextSlot_ = 0;
    std::size_t slotsInUse_ = 0;
};

}  // namespace tovani
