#include "DecoderHelper/MessageWriter.h"

#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>

namespace tovani {

namespace {

// Small messages wait here until this much has gathered.
constexpr std::size_t kGatherSize = 128 * 1024;
// Data chunks this large skip the gathering buffer.
constexpr std::size_t kDirectSize = 16 * 1024;

}  // namespace

MessageWriter::MessageWriter(int descriptor) : descriptor_(descriptor) {
    pending_.reserve(kGatherSize + DecoderProtocol::kFrameHeaderSize + kDirectSize);
}

void MessageWriter::useRing(std::span<std::byte> ring) {
    slots_ = ring.size() / DecoderProtocol::kMaxChunk;
    ring_ = ring.first(slots_ * DecoderProtocol::kMaxChunk);
}

bool MessageWriter::send(DecoderProtocol::MessageType type, std::span<const std::byte> payload) {
    if (lost_) {
        return false;
    }
    if (payload.size() >= kDirectSize) {
        std::vector<std::byte> header;
        DecoderProtocol::appendFrameHeader(header, type, payload.size());
        pending_.insert(pending_.end(), header.begin(), header.end());
        const bool sent = writeAll(pending_, payload);
        pending_.clear();
        return sent;
    }
    DecoderProtocol::appendFrame(pending_, type, payload);
    if (pending_.size() >= kGatherSize) {
        return flush();
    }
    return true;
}

bool MessageWriter::sendData(std::span<const std::byte> bytes) {
    while (!bytes.empty()) {
        const std::size_t size = std::min(bytes.size(), DecoderProtocol::kMaxChunk);
        const bool sent = size >= kDirectSize && slots_ > 0
                              ? sendInRing(bytes.first(size))
                              : send(DecoderProtocol::MessageType::data, bytes.first(size));
        if (!sent) {
            return false;
        }
        bytes = bytes.subspan(size);
    }
    return !lost_;
}

bool MessageWriter::sendInRing(std::span<const std::byte> chunk) {
    if (!awaitFreeSlot()) {
        return false;
    }
    const std::size_t offset = nextSlot_ * DecoderProtocol::kMaxChunk;
    std::copy(chunk.begin(), chunk.end(), ring_.begin() + static_cast<std::ptrdiff_t>(offset));
    nextSlot_ = (nextSlot_ + 1) % slots_;
    ++slotsInUse_;
    DecoderProtocol::RingData place{static_cast<std::uint32_t>(offset),
                                    static_cast<std::uint32_t>(chunk.size())};
    // Sent at once, with what gathered before it: the engine writes while
    // the next chunk is decoded.
    DecoderProtocol::appendFrame(pending_, DecoderProtocol::MessageType::ringData,
                                 DecoderProtocol::encode(place));
    return flush();
}

bool MessageWriter::awaitFreeSlot() {
    if (slotsInUse_ == slots_ && !flush()) {
        return false;
    }
    while (!lost_ && slotsInUse_ == slots_) {
        std::byte freed[64];
        const ssize_t got = recv(descriptor_, freed, sizeof freed, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            lost_ = true;
            break;
        }
        slotsInUse_ -= std::min(slotsInUse_, static_cast<std::size_t>(got));
    }
    return !lost_;
}

bool MessageWriter::flush() {
    if (lost_) {
        return false;
    }
    const bool sent = writeAll(pending_, {});
    pending_.clear();
    return sent;
}

bool MessageWriter::writeAll(std::span<const std::byte> first, std::span<const std::byte> second) {
    while (!lost_ && (!first.empty() || !second.empty())) {
        iovec parts[2] = {{const_cast<std::byte*>(first.data()), first.size()},
                          {const_cast<std::byte*>(second.data()), second.size()}};
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = 2;
        const ssize_t sent = sendmsg(descriptor_, &message, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            lost_ = true;
            break;
        }
        auto done = static_cast<std::size_t>(sent);
        const std::size_t fromFirst = std::min(done, first.size());
        first = first.subspan(fromFirst);
        second = second.subspan(done - fromFirst);
    }
    return !lost_;
}

}  // namespace tovani
