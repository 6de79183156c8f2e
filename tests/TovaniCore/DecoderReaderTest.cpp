#include "TovaniCore/DecoderReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace tovani {
namespace {

using DecoderProtocol::EntryKind;
using DecoderProtocol::MessageType;
using DecoderProtocol::Status;
using Bytes = std::vector<std::byte>;

Bytes bytesOf(const std::string& text) {
    const auto* data = reinterpret_cast<const std::byte*>(text.data());
    return Bytes(data, data + text.size());
}

DecoderProtocol::EntryRecord fileEntry(const std::string& name) {
    DecoderProtocol::EntryRecord entry;
    entry.name = name;
    entry.unpackedSize = 5;
    entry.mtimeNs = -1;
    return entry;
}

DecoderProtocol::EntryRecord directoryEntry(const std::string& name) {
    DecoderProtocol::EntryRecord entry = fileEntry(name);
    entry.kind = EntryKind::directory;
    return entry;
}

// Builds a stream of frames as the decoder would send them.
class Stream {
public:
    Stream& opened() {
        return frame(MessageType::opened, DecoderProtocol::encode(DecoderProtocol::Opened{}));
    }
    Stream& entry(const DecoderProtocol::EntryRecord& entry) {
        return frame(MessageType::entry, DecoderProtocol::encode(entry));
    }
    Stream& data(const std::string& text) { return frame(MessageType::data, bytesOf(text)); }
    Stream& finished(Status status = Status::ok,
                     DecoderProtocol::Stage stage = DecoderProtocol::Stage::readingHeader) {
        DecoderProtocol::Finished finished;
        finished.status = status;
        finished.stage = stage;
        finished.volumes = {"/a/x.part2.rar"};
        return frame(MessageType::finished, DecoderProtocol::encode(finished));
    }
    Stream& frame(MessageType type, const Bytes& payload) {
        DecoderProtocol::appendFrame(bytes, type, payload);
        return *this;
    }
    Bytes bytes;
};

// Feeds bytes in pieces of at most step bytes; 0 at the end.
DecoderReader::ByteSource sourceOf(const Bytes& bytes, std::size_t step = SIZE_MAX) {
    auto offset = std::make_shared<std::size_t>(0);
    return [&bytes, offset, step](std::span<std::byte> buffer) {
        const std::size_t size = std::min({buffer.size(), bytes.size() - *offset, step});
        if (size > 0) {
            std::memcpy(buffer.data(), bytes.data() + *offset, size);
        }
        *offset += size;
        return size;
    };
}

// Reads to the Finished message; a compact log of what was read.
std::vector<std::string> readAll(const Bytes& bytes, bool forExtraction,
                                 std::size_t step = SIZE_MAX) {
    DecoderReader reader(sourceOf(bytes, step), forExtraction);
    std::vector<std::string> log;
    for (;;) {
        DecoderReader::Message message = reader.next();
        if (std::holds_alternative<DecoderProtocol::Opened>(message)) {
            log.push_back("opened");
        } else if (auto* entry = std::get_if<DecoderProtocol::EntryRecord>(&message)) {
            log.push_back("entry " + entry->name);
        } else if (auto* data = std::get_if<DecoderReader::Data>(&message)) {
            log.push_back("data " + std::string(reinterpret_cast<const char*>(data->bytes.data()),
                                                data->bytes.size()));
        } else {
            const auto& finished = std::get<DecoderProtocol::Finished>(message);
            log.push_back("finished " + std::to_string(static_cast<int>(finished.status)) + " " +
                          finished.volumes.at(0));
            return log;
        }
    }
}

std::string faultOf(const Bytes& bytes, bool forExtraction) {
    try {
        readAll(bytes, forExtraction);
    } catch (const DecoderFault& fault) {
        return fault.what();
    }
    return "no fault";
}

TEST(DecoderReader, ReadsAStreamWhateverPiecesItArrivesIn) {
    Stream stream;
    stream.opened().entry(fileEntry("a")).data("alpha").data("").entry(directoryEntry("d"));
    stream.entry(fileEntry("b")).data("bbbbb").finished();
    const std::vector<std::string> expected = {
        "opened",  "entry a", "data alpha", "data ",
        "entry d", "entry b", "data bbbbb", "finished 0 /a/x.part2.rar"};
    for (std::size_t step : {std::size_t{1}, std::size_t{2}, std::size_t{7}, SIZE_MAX}) {
        EXPECT_EQ(readAll(stream.bytes, true, step), expected) << step;
    }
}

// A decoder that dies anywhere leaves a prefix of its answer.
TEST(DecoderReader, EveryTruncationIsAFault) {
    Stream stream;
    stream.opened().entry(fileEntry("a")).data("alpha").finished();
    for (std::size_t cut = 0; cut < stream.bytes.size(); ++cut) {
        const Bytes prefix(stream.bytes.begin(), stream.bytes.begin() + cut);
        EXPECT_EQ(faultOf(prefix, true), "the decoder's stream ended early") << cut;
    }
}

TEST(DecoderReader, OversizedFramesAreRefusedBeforeTheirPayload) {
    Stream stream;
    stream.opened();
    DecoderProtocol::appendFrameHeader(stream.bytes, MessageType::entry,
                                       DecoderProtocol::kMaxPayload + 1);
    // No payload follows: the size alone must end the reading.
    EXPECT_EQ(faultOf(stream.bytes, true), "oversized message");

    Stream chunk;
    chunk.opened().entry(fileEntry("a")).data(std::string(DecoderProtocol::kMaxChunk + 1, 'x'));
    EXPECT_EQ(faultOf(chunk.bytes, true), "unexpected message");
}

TEST(DecoderReader, MessagesOutOfOrderAreFaults) {
    const auto unexpected = [](const Stream& stream, bool forExtraction = true) {
        return faultOf(stream.bytes, forExtraction) == "unexpected message";
    };
    EXPECT_TRUE(unexpected(Stream().entry(fileEntry("a")).finished()));
    EXPECT_TRUE(unexpected(Stream().opened().opened().finished()));
    EXPECT_TRUE(unexpected(Stream().opened().data("x").finished()));
    EXPECT_TRUE(unexpected(Stream().opened().entry(directoryEntry("d")).data("x").finished()));
    EXPECT_TRUE(unexpected(Stream().opened().entry(fileEntry("a")).data("x").finished(), false));
    EXPECT_TRUE(unexpected(Stream().finished()));
    EXPECT_TRUE(unexpected(
        Stream().opened().finished(Status::damaged, DecoderProtocol::Stage::processingEntry)));
    EXPECT_TRUE(
        unexpected(Stream().opened().finished(Status::damaged, DecoderProtocol::Stage::opening)));
    EXPECT_TRUE(unexpected(Stream().opened().frame(MessageType::request, {}).finished()));
    EXPECT_TRUE(unexpected(Stream().opened().frame(static_cast<MessageType>(9), {})));
    // A failed open is a whole answer.
    EXPECT_EQ(readAll(Stream().finished(Status::cannotOpen, DecoderProtocol::Stage::opening).bytes,
                      false),
              (std::vector<std::string>{"finished 1 /a/x.part2.rar"}));
}

TEST(DecoderReader, PayloadsMustDecodeExactly) {
    Bytes entry = DecoderProtocol::encode(fileEntry("a"));
    Bytes longer = entry;
    longer.push_back(std::byte{0});
    Bytes badFlags = entry;
    badFlags.back() = std::byte{0x80};
    Bytes shorter(entry.begin(), entry.end() - 1);
    for (const Bytes& payload : {longer, badFlags, shorter}) {
        Stream stream;
        stream.opened().frame(MessageType::entry, payload).finished();
        EXPECT_NE(faultOf(stream.bytes, true), "no fault");
    }
    // A volume count far beyond what the payload holds.
    Stream stream;
    Bytes finished = DecoderProtocol::encode(DecoderProtocol::Finished{});
    std::fill(finished.end() - 4, finished.end(), std::byte{0xFF});
    stream.opened().frame(MessageType::finished, finished);
    EXPECT_EQ(faultOf(stream.bytes, true), "text count beyond the payload");
}

// Random damage to a good answer ends in a fault or a complete answer, never
// in anything else.
TEST(DecoderReader, DamagedStreamsEndInAFaultOrAnAnswer) {
    Stream stream;
    stream.opened().entry(fileEntry("a")).data("alpha").entry(directoryEntry("d")).finished();
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        Bytes damaged = stream.bytes;
        for (int flips = 1 + static_cast<int>(random() % 3); flips > 0; --flips) {
            damaged[random() % damaged.size()] = static_cast<std::byte>(random());
        }
        try {
            readAll(damaged, round % 2 == 0);
        } catch (const DecoderFault&) {
        }
    }
}

TEST(DecoderReader, NothingIsReadAfterTheAnswer) {
    Stream stream;
    stream.opened().finished().opened();
    DecoderReader reader(sourceOf(stream.bytes), false);
    // The first answer and its end are read past; what they hold is tested above.
    (void)reader.next();
    (void)reader.next();
    EXPECT_THROW((void)reader.next(), DecoderFault);
}

}  // namespace
}  // namespace tovani
