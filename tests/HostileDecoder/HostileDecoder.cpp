// A decoder taken over by an archive, for the tests: it speaks the real
// protocol on the real channel, but says what an attacker would. The engine
// runs it in place of ostrel-decoder; the mode comes in the one variable the
// engine passes on for tests, OSTREL_DECODER_TEST_FAULT:
//
//   foreign-volume:PATH  a good answer that names PATH as a volume it read
//   absent-layers        a good answer from a kernel without any confinement layer
//   deep-path:LEVELS     a folder LEVELS levels deep ("d/d/…/d")
//   oversized            a 5-byte file that delivers 10 bytes
//   undersized           a 10-byte file that delivers 5 bytes
//   unknown-kind         an entry of a kind the protocol does not have
//   unknown-status       a Finished with a status the protocol does not have
//   out-of-memory:BYTES  a file whose extraction fails for want of BYTES of memory
//   bool-byte            an entry whose flag byte has a bit the protocol does not define
//   stderr-escapes       terminal escape sequences on standard error, then a good answer
//   thread-bomb:COUNT    confines itself as the real decoder does, then starts up
//                        to COUNT threads; the entry "threads-N" says how many ran
//   silence              Opened, then nothing, forever
//   endless              one file of unstated size whose data never ends (listing:
//                        entries that never end)
//   grandchild           a child that keeps the channel open and sleeps, while
//                        the decoder itself exits
//   ring-place:OFF:LEN   "a.txt" of 20,000 bytes whose one chunk in the data
//                        ring is said to lie at OFF, LEN bytes long
//   ring-resize          tries to shrink and grow the data ring, then sends
//                        "a.txt" (20,000 bytes of 'r') through it; the file is
//                        "resized.txt" if either worked
//   ring-rewrite         sends "a.txt" (20,000 bytes of 'r') through the ring,
//                        then overwrites the slot with 'w' and a length of
//                        its own choosing until the engine frees it
//
// Every good answer is one file, "a.txt" holding "alpha".
#include <pthread.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "DecoderHelper/MessageWriter.h"
#include "DecoderHelper/Sandbox.h"
#include "TovaniCore/DecoderProtocol.h"

namespace {

using namespace tovani;
using DecoderProtocol::MessageType;

constexpr int kChannel = DecoderProtocol::kChannelDescriptor;

std::span<const std::byte> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::byte*>(text.data()), text.size()};
}

// Reads the engine's request.
DecoderProtocol::Request readRequest() {
    std::byte header[DecoderProtocol::kFrameHeaderSize];
    if (recv(kChannel, header, sizeof header, MSG_WAITALL) != sizeof header) {
        _exit(2);
    }
    std::vector<std::byte> payload(DecoderProtocol::payloadSize(header));
    if (recv(kChannel, payload.data(), payload.size(), MSG_WAITALL) !=
        static_cast<ssize_t>(payload.size())) {
        _exit(2);
    }
    return DecoderProtocol::decodeRequest(payload);
}

// Data goes out only when extracting, as the protocol has it: the lies are
// in what it says, not in its order.
bool extracting = false;

DecoderProtocol::EntryRecord file(const std::string& name, std::uint64_t size) {
    DecoderProtocol::EntryRecord entry;
    entry.name = name;
    entry.unpackedSize = size;
    return entry;
}

void entry(MessageWriter& out, const DecoderProtocol::EntryRecord& record,
           const std::string& data = std::string()) {
    out.send(MessageType::entry, DecoderProtocol::encode(record));
    if (extracting && !data.empty()) {
        out.sendData(bytesOf(data));
    }
}

void finish(MessageWriter& out, std::vector<std::string> volumes = {}) {
    DecoderProtocol::Finished finished;
    finished.stage = DecoderProtocol::Stage::readingHeader;
    finished.volumes = std::move(volumes);
    out.send(MessageType::finished, DecoderProtocol::encode(finished));
    out.flush();
}

void opened(MessageWriter& out, const DecoderProtocol::AbsentLayers& absent = {}) {
    out.send(MessageType::opened, DecoderProtocol::encode(DecoderProtocol::Opened{{}, absent}));
}

constexpr std::size_t kRingFile = 20000;

std::span<std::byte> mapRing() {
    const std::size_t size = DecoderProtocol::kRingSlots * DecoderProtocol::kMaxChunk;
    void* view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED,
                      DecoderProtocol::kRingDescriptor, 0);
    if (view == MAP_FAILED) {
        _exit(3);
    }
    return {static_cast<std::byte*>(view), size};
}

void sendPlace(std::uint32_t offset, std::uint32_t length) {
    std::vector<std::byte> frame;
    DecoderProtocol::appendFrame(
        frame, MessageType::ringData,
        DecoderProtocol::encode(DecoderProtocol::RingData{offset, length}));
    if (send(kChannel, frame.data(), frame.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(frame.size())) {
        _exit(3);
    }
}

// Answers with one file whose data is in the ring; attack() runs once its
// place is sent.
template <typename Attack>
void ringAnswer(MessageWriter& out, const std::string& name, std::uint32_t offset,
                std::uint32_t length, Attack attack) {
    opened(out);
    out.send(MessageType::entry, DecoderProtocol::encode(file(name, kRingFile)));
    if (extracting) {
        out.flush();
        sendPlace(offset, length);
        attack();
    }
    finish(out);
}

// Starts threads that wait forever, until the system refuses one.
int threadBomb(int count) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 256 * 1024);
    int started = 0;
    for (; started < count; ++started) {
        pthread_t thread;
        const auto wait = [](void*) -> void* {
            for (;;) {
                pause();
            }
        };
        if (pthread_create(&thread, &attributes, wait, nullptr) != 0) {
            break;
        }
    }
    pthread_attr_destroy(&attributes);
    return started;
}

}  // namespace

int main() {
    const DecoderProtocol::Request request = readRequest();
    const std::vector<std::string>& volumes = request.volumes;
    extracting = request.forExtraction;
    const char* setting = std::getenv("OSTREL_DECODER_TEST_FAULT");
    const std::string spec = setting != nullptr ? setting : "";
    const std::size_t colon = spec.find(':');
    const std::string mode = spec.substr(0, colon);
    const std::string argument = colon == std::string::npos ? "" : spec.substr(colon + 1);

    MessageWriter out(kChannel);
    if (mode == "foreign-volume") {
        opened(out);
        entry(out, file("a.txt", 5), "alpha");
        finish(out, {argument});
    } else if (mode == "absent-layers") {
        opened(out, {true, true, true});
        entry(out, file("a.txt", 5), "alpha");
        finish(out);
    } else if (mode == "deep-path") {
        std::string path = "d";
        for (int level = 1; level < std::atoi(argument.c_str()); ++level) {
            path += "/d";
        }
        DecoderProtocol::EntryRecord folder;
        folder.name = path;
        folder.kind = DecoderProtocol::EntryKind::directory;
        // The writer checks no length; the engine's reader must.
        opened(out);
        out.send(MessageType::entry, DecoderProtocol::encode(folder));
        finish(out);
    } else if (mode == "raw") {
        // A single compressed file: its one entry is named by the engine, and
        // a second entry, or one that is no file, is a lie.
        DecoderProtocol::Opened raw;
        raw.container = DecoderProtocol::Container::raw;
        out.send(MessageType::opened, DecoderProtocol::encode(raw));
        DecoderProtocol::EntryRecord named = file("../../.ssh/id_ed25519", 5);
        if (argument == "folder") {
            named.kind = DecoderProtocol::EntryKind::directory;
            named.unpackedSize.reset();
        }
        entry(out, named, "alpha");
        if (argument == "two") {
            entry(out, file("b.txt", 4), "beta");
        }
        finish(out);
    } else if (mode == "oversized") {
        opened(out);
        entry(out, file("a.txt", 5), "alpha-beta");
        finish(out);
    } else if (mode == "undersized") {
        opened(out);
        entry(out, file("a.txt", 10), "alpha");
        finish(out);
    } else if (mode == "unknown-kind" || mode == "bool-byte") {
        std::vector<std::byte> payload = DecoderProtocol::encode(file("a.txt", 0));
        // After the two texts' lengths and bytes: the kind, then the flags.
        const std::size_t kind = 4 + 5 + 4;
        payload[mode == "unknown-kind" ? kind : kind + 1] =
            static_cast<std::byte>(mode == "unknown-kind" ? 9 : 0x80);
        opened(out);
        out.send(MessageType::entry, payload);
        finish(out);
    } else if (mode == "unknown-status") {
        opened(out);
        entry(out, file("a.txt", 5), "alpha");
        std::vector<std::byte> payload = DecoderProtocol::encode(DecoderProtocol::Finished{});
        payload[0] = std::byte{200};
        out.send(MessageType::finished, payload);
        out.flush();
    } else if (mode == "out-of-memory") {
        opened(out);
        out.send(MessageType::entry, DecoderProtocol::encode(file("a.txt", 5)));
        DecoderProtocol::Finished finished;
        finished.status = DecoderProtocol::Status::outOfMemory;
        finished.stage = DecoderProtocol::Stage::processingEntry;
        finished.requiredMemory = std::strtoull(argument.c_str(), nullptr, 10);
        out.send(MessageType::finished, DecoderProtocol::encode(finished));
        out.flush();
    } else if (mode == "stderr-escapes") {
        const char escapes[] = "\x1b]0;owned\x07\x1b[31m\x1b[2J\x1bP$q\x1b\\\n";
        (void)!write(STDERR_FILENO, escapes, sizeof escapes - 1);
        opened(out);
        entry(out, file("a.txt", 5), "alpha");
        finish(out);
    } else if (mode == "thread-bomb") {
        std::vector<std::filesystem::path> readable(volumes.begin(), volumes.end());
        const Sandbox::Report report = Sandbox::confine(readable);
        const int started = report.holds() ? threadBomb(std::atoi(argument.c_str())) : -1;
        opened(out);
        entry(out, file("threads-" + std::to_string(started), 0));
        finish(out);
    } else if (mode == "silence") {
        opened(out);
        out.flush();
        for (;;) {
            pause();
        }
    } else if (mode == "endless") {
        opened(out);
        DecoderProtocol::EntryRecord endless = file("a.txt", 0);
        endless.unpackedSize.reset();
        out.send(MessageType::entry, DecoderProtocol::encode(endless));
        const std::string chunk(DecoderProtocol::kMaxChunk, 'x');
        // Listing, entries never end; extracting, the data.
        while (extracting ? out.sendData(bytesOf(chunk))
                          : out.send(MessageType::entry, DecoderProtocol::encode(endless))) {
        }
    } else if (mode == "ring-place" && extracting) {
        const std::size_t second = argument.find(':');
        const auto offset = static_cast<std::uint32_t>(std::stoul(argument.substr(0, second)));
        const auto length = static_cast<std::uint32_t>(std::stoul(argument.substr(second + 1)));
        const std::span<std::byte> ring = mapRing();
        std::fill(ring.begin(), ring.end(), std::byte{'r'});
        ringAnswer(out, "a.txt", offset, length, [] {});
    } else if (mode == "ring-resize" && extracting) {
        const int descriptor = DecoderProtocol::kRingDescriptor;
        const off_t size = DecoderProtocol::kRingSlots * DecoderProtocol::kMaxChunk;
        const bool resized = ftruncate(descriptor, 0) == 0 || ftruncate(descriptor, size * 2) == 0;
        const std::span<std::byte> ring = mapRing();
        std::fill(ring.begin(), ring.end(), std::byte{'r'});
        ringAnswer(out, resized ? "resized.txt" : "a.txt", 0, kRingFile, [] {});
    } else if (mode == "ring-rewrite" && extracting) {
        const std::span<std::byte> ring = mapRing();
        std::fill(ring.begin(), ring.end(), std::byte{'r'});
        ringAnswer(out, "a.txt", 0, kRingFile, [&] {
            // Until the engine's byte comes: whatever it reads from the slot
            // meanwhile, the frame's length has long been read.
            std::byte freed;
            while (recv(kChannel, &freed, 1, MSG_DONTWAIT) != 1) {
                std::fill(ring.begin(), ring.begin() + kRingFile, std::byte{'w'});
                const std::uint32_t lie = 0xFFFFFFFFu;
                std::memcpy(ring.data(), &lie, sizeof lie);
                std::fill(ring.begin(), ring.begin() + kRingFile, std::byte{'r'});
            }
        });
    } else if (mode.starts_with("ring-")) {
        // Listing: the same file, so that the space check grants it.
        opened(out);
        entry(out, file("a.txt", kRingFile));
        finish(out);
    } else if (mode == "grandchild") {
        if (fork() == 0) {
            for (;;) {
                pause();
            }
        }
        opened(out);
        out.flush();
    }
    _exit(0);
}
