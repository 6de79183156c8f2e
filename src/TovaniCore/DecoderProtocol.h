// DecoderProtocol is the binary message format between RarEngine and the
// confined decoder process (ostrel-decoder). Both sides compile this file; it
// depends on nothing but the bridge's plain types.
//
// Every message is a frame: one type byte, a 32-bit little-endian payload
// length, then the payload. The engine sends one Request; the decoder answers
// with a stream that needs no reply:
//
//   Opened, then per entry: Entry, Data* (file data, extraction only),
//   and at the end exactly one Finished (also instead of Opened when the
//   archive cannot be opened).
//
//   std::vector<std::byte> frame;
//   DecoderProtocol::appendFrame(frame, DecoderProtocol::MessageType::opened,
//                                DecoderProtocol::encode(DecoderProtocol::Opened{info}));
//   DecoderProtocol::Opened back = DecoderProtocol::decodeOpened(payload);
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "RarBridge/tovani_bridge.h"

namespace tovani::DecoderProtocol {

// The decoder's end of the channel in its own descriptor table.
inline constexpr int kChannelDescriptor = 3;
// Data messages carry at most this much; the socket's buffer holds a few, so
// decompression runs ahead of the writing while memory stays flat.
inline constexpr std::size_t kMaxChunk = 256 * 1024;
// No payload may be larger (names of 65,535 characters, long volume lists).
inline constexpr std::size_t kMaxPayload = 4 * 1024 * 1024;
inline constexpr std::size_t kFrameHeaderSize = 5;

enum class MessageType : std::uint8_t {
    request = 1,
    opened = 2,
    entry = 3,
    data = 4,
    finished = 5,
};

// Engine → decoder. volumes: the archive first, then every further volume the
// library may move on to, in order; it may read no other file.
struct Request {
    bool forExtraction = false;
    std::optional<std::string> password;
    std::string archive;
    std::vector<std::string> volumes;
};

struct Opened {
    tovani_archive_info info{};
};

// A tovani_entry with its texts copied out of the handle.
struct EntryRecord {
    std::string name;
    std::string target;
    std::uint64_t unpackedSize = 0;
    std::uint64_t packedSize = 0;
    std::int64_t mtimeNs = 0;
    std::uint32_t attributes = 0;
    std::uint32_t linkType = TOVANI_LINK_NONE;
    bool hasMtime = false;
    bool hasUnixMode = false;
    bool isDirectory = false;
    bool isEncrypted = false;
};

// Where the decoder was when the call failed: the engine gives the entry's
// path with the error only for failures while processing an entry.
enum class Stage : std::uint8_t { opening = 0, readingHeader = 1, processingEntry = 2 };

struct Finished {
    std::uint32_t status = TOVANI_OK;  // TOVANI_OK: every entry went through
    Stage stage = Stage::opening;
    std::string missingVolume;         // tovani_missing_volume, "" when none
    std::vector<std::string> volumes;  // further volumes the library moved on to
};

// A payload that does not decode to its message exactly.
class Malformed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Whether the decoder streams this entry's data when extracting: files only
// (a link type wins over the directory flag, as in the engine's conversion).
bool carriesData(const EntryRecord& entry);

std::vector<std::byte> encode(const Request& message);
std::vector<std::byte> encode(const Opened& message);
std::vector<std::byte> encode(const EntryRecord& message);
std::vector<std::byte> encode(const Finished& message);

// Each throws Malformed unless the payload is exactly one such message.
Request decodeRequest(std::span<const std::byte> payload);
Opened decodeOpened(std::span<const std::byte> payload);
EntryRecord decodeEntry(std::span<const std::byte> payload);
Finished decodeFinished(std::span<const std::byte> payload);

// Appends the frame header for a payload of size bytes.
void appendFrameHeader(std::vector<std::byte>& out, MessageType type, std::size_t size);
void appendFrame(std::vector<std::byte>& out, MessageType type, std::span<const std::byte> payload);

// The payload size in a frame header (the 4 bytes after the type).
std::uint32_t payloadSize(std::span<const std::byte, kFrameHeaderSize> header);

// Overwrites bytes that held a password before they are released.
void wipe(std::vector<std::byte>& bytes);
void wipe(std::string& text);

}  // namespace tovani::DecoderProtocol
