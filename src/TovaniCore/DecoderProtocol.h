// DecoderProtocol is the binary message format between RarEngine and the
// confined decoder process (ostrel-decoder). Both sides compile this file. Its
// types are its own and name no decoding library: the decoder maps what its
// library says onto them, and the engine trusts none of it. Decoding checks
// every enumeration, flag and length, and throws Malformed for anything else.
//
// Every message is a frame: one type byte, a 32-bit little-endian payload
// length, then the payload. The engine sends one Request; the decoder answers
// with a stream that needs no reply:
//
//   Opened, then per entry: Entry, Data* (file data, extraction only),
//   and at the end exactly one Finished (also instead of Opened when the
//   archive cannot be opened).
//
// When extracting, the engine may also hand the decoder a data ring: shared
// memory it made and sealed at a fixed size (descriptor kRingDescriptor).
// A large chunk then travels as RingData, naming the slot the decoder copied
// it into; the engine answers each with one byte, which frees the slot.
// Everything else, the chunk's length included, stays on the socket.
//
//   std::vector<std::byte> frame;
//   DecoderProtocol::appendFrame(frame, DecoderProtocol::MessageType::opened,
//                                DecoderProtocol::encode(DecoderProtocol::Opened{flags}));
//   DecoderProtocol::Opened back = DecoderProtocol::decodeOpened(payload);
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace tovani::DecoderProtocol {

// The decoder's end of the channel in its own descriptor table.
inline constexpr int kChannelDescriptor = 3;
// The data ring, when the engine gives one: kRingSlots slots of kMaxChunk.
inline constexpr int kRingDescriptor = 4;
inline constexpr std::size_t kRingSlots = 8;
// Data messages carry at most this much; the socket's buffer holds a few, so
// decompression runs ahead of the writing while memory stays flat.
inline constexpr std::size_t kMaxChunk = 256 * 1024;
// No payload may be larger (long volume lists).
inline constexpr std::size_t kMaxPayload = 4 * 1024 * 1024;
// An entry's name and link target each: room for the longest name RAR stores
// (65,535 UTF-16 units), sixteen times any path Linux can use.
inline constexpr std::size_t kMaxNameBytes = 64 * 1024;
inline constexpr std::size_t kFrameHeaderSize = 5;

enum class MessageType : std::uint8_t {
    request = 1,
    opened = 2,
    entry = 3,
    data = 4,
    finished = 5,
    ringData = 6,
};

// Which of the decoder's libraries reads the archive.
enum class Backend : std::uint8_t {
    rar = 0,
    libarchive = 1,
};

// Engine → decoder. volumes: the archive first, then every further volume the
// library may move on to, in order; it may read no other file. The RAR library
// opens the archive and asks for the others; libarchive reads them all as one
// stream, in this order.
struct Request {
    Backend backend = Backend::rar;
    bool forExtraction = false;
    std::optional<std::string> password;
    std::string archive;
    std::vector<std::string> volumes;
};

struct ArchiveFlags {
    bool isVolume = false;
    bool isFirstVolume = false;
    bool isSolid = false;
    bool hasEncryptedHeaders = false;
};

// Confinement layers this kernel does not have at all (the decoder runs
// without them, and says so); a layer the kernel has but that could not be
// applied is Status::confinementFailed instead.
struct AbsentLayers {
    bool fileSystemRules = false;
    bool systemCallFilter = false;
    bool addressSpaceLimit = false;

    bool operator==(const AbsentLayers&) const = default;
};

// The kind of container the library found. A raw one is a single compressed
// file with no names of its own: the engine names its one entry.
enum class Container : std::uint8_t {
    rar = 0,
    zip = 1,
    sevenZip = 2,
    tar = 3,
    cpio = 4,
    raw = 5,
};

struct Opened {
    ArchiveFlags flags;
    AbsentLayers absent;
    Container container = Container::rar;
};

enum class EntryKind : std::uint8_t {
    file = 0,
    directory = 1,
    symbolicLink = 2,
    hardLink = 3,
    fileCopy = 4,  // a copy of the data of an earlier file, named by target
    special = 5,   // a device node, FIFO or socket: listed, never created
};

// A point in time: whole seconds since 1970-01-01 00:00:00 UTC (negative
// before) and the nanoseconds within that second, below kNanosecondsPerSecond.
inline constexpr std::uint32_t kNanosecondsPerSecond = 1'000'000'000;
struct Time {
    std::int64_t seconds = 0;
    std::uint32_t nanoseconds = 0;

    bool operator==(const Time&) const = default;
};

// One entry of the archive; texts are UTF-8 of at most kMaxNameBytes.
struct EntryRecord {
    std::string name;
    std::string target;  // links and copies: what they name ("" for none)
    EntryKind kind = EntryKind::file;
    std::optional<std::uint64_t> unpackedSize;  // none: the archive does not say
    std::uint64_t packedSize = 0;
    std::optional<Time> modified;
    std::optional<std::uint16_t> unixMode;  // permission bits only (07777)
    bool isEncrypted = false;
};

// How a call ended. Every value but ok is a failure of the whole call.
enum class Status : std::uint8_t {
    ok = 0,
    cannotOpen = 1,
    notAnArchive = 2,
    passwordRequired = 3,
    wrongPassword = 4,
    damaged = 5,
    volumeMissing = 6,
    outOfMemory = 7,
    unsupportedFormat = 8,
    engineFailure = 9,
    nameTooLong = 10,            // the current entry's name is longer than the decoder takes
    confinementFailed = 11,      // a layer the kernel offers could not be applied: nothing was read
    unsupportedEncryption = 12,  // encrypted in a way the library cannot decrypt
};

// Where the decoder was when the call failed: the engine gives the entry's
// path with the error only for failures while processing an entry.
enum class Stage : std::uint8_t { opening = 0, readingHeader = 1, processingEntry = 2 };

struct Finished {
    Status status = Status::ok;  // ok: every entry went through
    Stage stage = Stage::opening;
    // outOfMemory only: the bytes the entry's dictionary or model asked for,
    // when the library says.
    std::optional<std::uint64_t> requiredMemory;
    std::string missingVolume;         // the volume the library asked for, "" when none
    std::vector<std::string> volumes;  // further volumes the library moved on to
};

// A data chunk in the ring: the slot's offset, and the chunk's length.
struct RingData {
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
};

// A payload that does not decode to its message exactly.
class Malformed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Whether the decoder streams this entry's data when extracting: files only.
bool carriesData(const EntryRecord& entry);

std::vector<std::byte> encode(const Request& message);
std::vector<std::byte> encode(const Opened& message);
std::vector<std::byte> encode(const EntryRecord& message);
std::vector<std::byte> encode(const Finished& message);
std::vector<std::byte> encode(const RingData& message);

// Each throws Malformed unless the payload is exactly one such message.
Request decodeRequest(std::span<const std::byte> payload);
Opened decodeOpened(std::span<const std::byte> payload);
EntryRecord decodeEntry(std::span<const std::byte> payload);
Finished decodeFinished(std::span<const std::byte> payload);
// Checks the size only: where a chunk may lie is the reader's to judge.
RingData decodeRingData(std::span<const std::byte> payload);

// Appends the frame header for a payload of size bytes.
void appendFrameHeader(std::vector<std::byte>& out, MessageType type, std::size_t size);
void appendFrame(std::vector<std::byte>& out, MessageType type, std::span<const std::byte> payload);

// The payload size in a frame header (the 4 bytes after the type).
std::uint32_t payloadSize(std::span<const std::byte, kFrameHeaderSize> header);

// Overwrites bytes that held a password before they are released.
void wipe(std::vector<std::byte>& bytes);
void wipe(std::string& text);

}  // namespace tovani::DecoderProtocol
