// MessageWriter sends the decoder's messages to the engine over the channel,
// gathering small ones so that many entries of small files travel in one
// write, and passing large data chunks straight from the library's buffer.
// It never blocks on anything but the socket, and never waits for a reply.
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

    // Each returns false once the channel is lost; nothing is sent after that.
    bool send(DecoderProtocol::MessageType type, std::span<const std::byte> payload);
    bool sendData(std::span<const std::byte> bytes);
    bool flush();

    bool lost() const { return lost_; }

private:
    bool writeAll(std::span<const std::byte> first, std::span<const std::byte> second);

    int descriptor_;
    bool lost_ = false;
    std::vector<std::byte> pending_;
};

}  // namespace tovani
