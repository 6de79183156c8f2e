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
    entry.modified = DecoderProtocol::Time{-1, 999'999'999};
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
    // Within the general limit, but beyond what an entry can hold.
    Stream entry;
    entry.opened();
    DecoderProtocol::appendFrameHeader(entry.bytes, MessageType::entry, 1024 * 1024);
    EXPECT_EQ(faultOf(entry.bytes, true), "unexpected message");

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

// What the second backend added travels unchanged: the backend asked for,
// the container found, a special entry, encryption no one decrypts and the
// memory an archive asked for.
TEST(DecoderReader, BackendsContainersAndMemoryTravelUnchanged) {
    DecoderProtocol::Request request;
    request.backend = DecoderProtocol::Backend::libarchive;
    request.archive = "/a/x.7z.001";
    request.volumes = {"/a/x.7z.001", "/a/x.7z.002"};
    EXPECT_EQ(DecoderProtocol::decodeRequest(DecoderProtocol::encode(request)).backend,
              DecoderProtocol::Backend::libarchive);
    for (const auto container :
         {DecoderProtocol::Container::rar, DecoderProtocol::Container::zip,
          DecoderProtocol::Container::sevenZip, DecoderProtocol::Container::tar,
          DecoderProtocol::Container::cpio, DecoderProtocol::Container::raw}) {
        DecoderProtocol::Opened opened;
        opened.container = container;
        EXPECT_EQ(DecoderProtocol::decodeOpened(DecoderProtocol::encode(opened)).container,
                  container);
    }
    DecoderProtocol::EntryRecord special = fileEntry("dev/null");
    special.kind = EntryKind::special;
    special.unpackedSize.reset();
    EXPECT_EQ(DecoderProtocol::decodeEntry(DecoderProtocol::encode(special)).kind,
              EntryKind::special);
    EXPECT_FALSE(DecoderProtocol::carriesData(special));
    DecoderProtocol::Finished finished;
    finished.status = Status::outOfMemory;
    finished.requiredMemory = 3ULL << 30;
    EXPECT_EQ(DecoderProtocol::decodeFinished(DecoderProtocol::encode(finished)).requiredMemory,
              finished.requiredMemory);
    finished.status = Status::unsupportedEncryption;
    finished.requiredMemory.reset();
    const DecoderProtocol::Finished back =
        DecoderProtocol::decodeFinished(DecoderProtocol::encode(finished));
    EXPECT_EQ(back.status, Status::unsupportedEncryption);
    EXPECT_FALSE(back.requiredMemory);
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
    // The volumes' count ends the message.
    std::fill(finished.end() - 4, finished.end(), std::byte{0xFF});
    stream.opened().frame(MessageType::finished, finished);
    EXPECT_EQ(faultOf(stream.bytes, true), "text count beyond the payload");
}

// Each byte that holds an enumeration or flags, set to a value the protocol
// does not define; and values that come without their flag.
TEST(DecoderReader, ValuesTheProtocolDoesNotDefineAreRefusedWhenDecoded) {
    const Bytes entry = DecoderProtocol::encode(fileEntry("a"));
    // name (4 + 1), target (4 + 0), then the kind and the flags.
    constexpr std::size_t kind = 9;
    constexpr std::size_t flags = 10;
    ASSERT_EQ(entry[kind], static_cast<std::byte>(EntryKind::file));
    const auto withByte = [](Bytes bytes, std::size_t at, int value) {
        bytes.at(at) = static_cast<std::byte>(value);
        return bytes;
    };
    Bytes sizeWithoutFlag = entry;
    sizeWithoutFlag[flags] &= std::byte{0xFE};
    DecoderProtocol::EntryRecord modeOutOfRange = fileEntry("a");
    modeOutOfRange.unixMode = 010644;
    DecoderProtocol::EntryRecord wholeSecondOfNanoseconds = fileEntry("a");
    wholeSecondOfNanoseconds.modified = DecoderProtocol::Time{0, 1'000'000'000};
    DecoderProtocol::EntryRecord nanosecondsWithoutTime = fileEntry("a");
    nanosecondsWithoutTime.modified = DecoderProtocol::Time{0, 1};
    Bytes nanosecondsWithoutFlag = DecoderProtocol::encode(nanosecondsWithoutTime);
    nanosecondsWithoutFlag[flags] &= std::byte{0xFD};
    const Bytes finished = DecoderProtocol::encode(DecoderProtocol::Finished{});
    DecoderProtocol::Finished memoryWithoutShortage;
    memoryWithoutShortage.requiredMemory = 1 << 30;
    const Bytes opened = DecoderProtocol::encode(DecoderProtocol::Opened{});
    const std::vector<std::pair<std::string, Stream>> cases = {
        {"unknown entry kind",
         Stream().opened().frame(MessageType::entry, withByte(entry, kind, 6))},
        {"unknown entry kind",
         Stream().opened().frame(MessageType::entry, withByte(entry, kind, 255))},
        {"unknown flag bits",
         Stream().opened().frame(MessageType::entry, withByte(entry, flags, 0x10))},
        {"a value without its flag", Stream().opened().frame(MessageType::entry, sizeWithoutFlag)},
        {"mode bits beyond the permissions", Stream().opened().entry(modeOutOfRange)},
        {"nanoseconds beyond a second", Stream().opened().entry(wholeSecondOfNanoseconds)},
        {"a value without its flag",
         Stream().opened().frame(MessageType::entry, nanosecondsWithoutFlag)},
        {"unknown status",
         Stream().opened().frame(MessageType::finished, withByte(finished, 0, 13))},
        {"unknown flag bits",
         Stream().opened().frame(MessageType::finished, withByte(finished, 2, 0x02))},
        {"a value without its flag",
         Stream().opened().frame(MessageType::finished, withByte(finished, 3, 1))},
        {"unknown container", Stream().frame(MessageType::opened, withByte(opened, 2, 6))},
        {"unknown stage", Stream().opened().frame(MessageType::finished, withByte(finished, 1, 3))},
        {"a size of memory with another status",
         Stream().opened().frame(MessageType::finished,
                                 DecoderProtocol::encode(memoryWithoutShortage))},
        {"unknown flag bits", Stream().frame(MessageType::opened, withByte(opened, 0, 0x10))},
        {"unknown flag bits", Stream().frame(MessageType::opened, withByte(opened, 1, 0x08))},
    };
    for (const auto& [fault, stream] : cases) {
        EXPECT_EQ(faultOf(stream.bytes, true), fault);
    }
    // The decoder holds the engine's request to the same rules.
    DecoderProtocol::Request request;
    request.password = "x";
    Bytes passwordWithoutFlag = DecoderProtocol::encode(request);
    passwordWithoutFlag[0] = std::byte{0};
    EXPECT_THROW((void)DecoderProtocol::decodeRequest(passwordWithoutFlag),
                 DecoderProtocol::Malformed);
    Bytes unknownBackend = DecoderProtocol::encode(DecoderProtocol::Request{});
    unknownBackend.at(1) = std::byte{2};
    EXPECT_THROW((void)DecoderProtocol::decodeRequest(unknownBackend), DecoderProtocol::Malformed);
}

TEST(DecoderReader, NamesAreBoundedPerEntryAndPerAnswer) {
    // A name at the limit passes; one byte more, or a target as long, fails.
    Stream atLimit;
    atLimit.opened().entry(fileEntry(std::string(DecoderProtocol::kMaxNameBytes, 'n'))).finished();
    EXPECT_EQ(readAll(atLimit.bytes, false).size(), 3u);
    DecoderProtocol::EntryRecord longTarget = fileEntry("l");
    longTarget.kind = EntryKind::symbolicLink;
    longTarget.target = std::string(DecoderProtocol::kMaxNameBytes + 1, 't');
    for (const DecoderProtocol::EntryRecord& entry :
         {fileEntry(std::string(DecoderProtocol::kMaxNameBytes + 1, 'n')), longTarget}) {
        EXPECT_EQ(faultOf(Stream().opened().entry(entry).finished().bytes, false), "text too long");
    }

    // Names at the limit, streamed until the answer's budget is spent: the
    // reader holds one at a time and stops there.
    const DecoderProtocol::EntryRecord longest =
        fileEntry(std::string(DecoderProtocol::kMaxNameBytes, 'n'));
    Bytes frame;
    DecoderProtocol::appendFrame(frame, MessageType::entry, DecoderProtocol::encode(longest));
    const std::uint64_t frames =
        DecoderReader::kMaxNameBytesPerAnswer / DecoderProtocol::kMaxNameBytes + 1;
    Bytes opened = Stream().opened().bytes;
    std::uint64_t sent = 0;
    std::size_t offset = 0;
    DecoderReader reader(
        [&](std::span<std::byte> buffer) -> std::size_t {
            if (!opened.empty()) {
                const std::size_t size = std::min(buffer.size(), opened.size());
                std::memcpy(buffer.data(), opened.data(), size);
                opened.erase(opened.begin(), opened.begin() + static_cast<long>(size));
                return size;
            }
            if (sent == frames) {
                return 0;
            }
            const std::size_t size = std::min(buffer.size(), frame.size() - offset);
            std::memcpy(buffer.data(), frame.data() + offset, size);
            offset += size;
            if (offset == frame.size()) {
                offset = 0;
                ++sent;
            }
            return size;
        },
        false);
    (void)reader.next();
    std::string fault;
    std::uint64_t entries = 0;
    try {
        for (;; ++entries) {
            (void)reader.next();
        }
    } catch (const DecoderFault& error) {
        fault = error.what();
    }
    EXPECT_EQ(fault, "names beyond the answer's budget");
    EXPECT_EQ(entries, frames - 1);
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

Bytes ringData(std::uint32_t offset, std::uint32_t length) {
    return DecoderProtocol::encode(DecoderProtocol::RingData{offset, length});
}

// A chunk in the ring is taken only from the slot whose turn it is, at a
// length the frame states within one slot; every other place, length or
// moment is a fault, and nothing outside the ring is ever handed out.
TEST(DecoderReader, ChunksInTheRingStayInTheirSlot) {
    constexpr std::uint32_t slot = DecoderProtocol::kMaxChunk;
    const auto slots = static_cast<std::uint32_t>(DecoderProtocol::kRingSlots);
    const Bytes ring(std::size_t{slots} * slot);

    // Every slot in turn, twice round, at lengths from one byte to a whole slot.
    Stream good;
    good.opened().entry(fileEntry("a"));
    for (std::uint32_t chunk = 0; chunk < 2 * slots; ++chunk) {
        good.frame(MessageType::ringData, ringData((chunk % slots) * slot, chunk == 0   ? 1
                                                                           : chunk == 1 ? slot
                                                                                        : 100));
    }
    good.finished();
    {
        DecoderReader reader(sourceOf(good.bytes), true, ring);
        (void)reader.next();
        (void)reader.next();
        for (std::uint32_t chunk = 0; chunk < 2 * slots; ++chunk) {
            auto data = std::get<DecoderReader::Data>(reader.next());
            EXPECT_TRUE(data.inRing);
            EXPECT_EQ(data.bytes.data(), ring.data() + (chunk % slots) * slot) << chunk;
            EXPECT_EQ(data.bytes.size(), chunk == 0 ? 1u : chunk == 1 ? slot : 100u);
        }
        EXPECT_TRUE(std::holds_alternative<DecoderProtocol::Finished>(reader.next()));
    }

    struct Case {
        const char* attack;
        Stream stream;
        bool withRing = true;
        bool forExtraction = true;
    };
    const auto afterEntry = [] {
        Stream stream;
        stream.opened().entry(fileEntry("a"));
        return stream;
    };
    const auto attack = [&](std::uint32_t offset, std::uint32_t length) {
        Stream stream = afterEntry();
        stream.frame(MessageType::ringData, ringData(offset, length)).finished();
        return stream;
    };
    Case cases[] = {
        {"offset at the ring's end", attack(slots * slot, 1)},
        {"offset far beyond", attack(0xFFFFFFFFu, 1)},
        {"offset and length wrapping", attack(0xFFFFFFFFu, 2)},
        {"a slot out of turn", attack(slot, 1)},
        {"inside a slot", attack(7, 1)},
        {"longer than a slot", attack(0, slot + 1)},
        {"empty", attack(0, 0)},
        {"no ring was given", attack(0, 1), false},
        {"while listing", attack(0, 1), true, false},
        {"before any entry",
         Stream().opened().frame(MessageType::ringData, ringData(0, 1)).finished()},
        {"after a folder", Stream()
                               .opened()
                               .entry(directoryEntry("d"))
                               .frame(MessageType::ringData, ringData(0, 1))
                               .finished()},
        {"a payload too short", afterEntry().frame(MessageType::ringData, Bytes(7)).finished()},
        {"a payload too long", afterEntry().frame(MessageType::ringData, Bytes(9)).finished()},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.attack);
        DecoderReader reader(
            sourceOf(c.stream.bytes), c.forExtraction,
            c.withRing ? std::span<const std::byte>(ring) : std::span<const std::byte>());
        EXPECT_THROW(
            for (;;) {
                if (std::holds_alternative<DecoderProtocol::Finished>(reader.next())) {
                    break;
                }
            },
            DecoderFault);
    }
}

}  // namespace
}  // namespace tovani
