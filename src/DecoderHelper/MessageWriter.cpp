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
        if (!send(DecoderProtocol::MessageType::data, bytes.first(size))) {
            return false;
        }
        bytes = bytes.subspan(size);
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
