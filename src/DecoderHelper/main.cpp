// ostrel-decoder: the confined process that reads one archive for an engine
// (RarEngine through the UnRAR library, LibarchiveEngine through libarchive).
// It takes one request on descriptor 3, loads what it needs from the file
// system, confines itself to reading the request's volumes, and streams its
// answer back (see TovaniCore/DecoderProtocol.h). A fault in either library
// ends this process only. It decodes nothing when a confinement layer the
// kernel offers cannot be set, and ends with the process that started it.
#include <fcntl.h>
#include <locale.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "DecoderHelper/DecodeBackend.h"
#include "DecoderHelper/DecodeRun.h"
#include "DecoderHelper/MessageWriter.h"
#include "DecoderHelper/Sandbox.h"
#include "TovaniCore/DecoderProtocol.h"

// LeakSanitizer's exit check traces the process from a cloned task, which the
// system call filter refuses; the decoder ends with _exit anyway.
extern "C" int __lsan_is_turned_off() {
    return 1;
}

namespace {

using namespace tovani;

bool readExactly(int descriptor, std::byte* data, std::size_t size) {
    while (size > 0) {
        const ssize_t got = recv(descriptor, data, size, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        data += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

bool readRequest(int descriptor, DecoderProtocol::Request& request) {
    std::byte header[DecoderProtocol::kFrameHeaderSize];
    if (!readExactly(descriptor, header, sizeof header) ||
        header[0] != static_cast<std::byte>(DecoderProtocol::MessageType::request)) {
        return false;
    }
    const std::uint32_t size = DecoderProtocol::payloadSize(header);
    if (size > DecoderProtocol::kMaxPayload) {
        return false;
    }
    std::vector<std::byte> payload(size);
    const bool read = readExactly(descriptor, payload.data(), size);
    bool decoded = false;
    if (read) {
        try {
            request = DecoderProtocol::decodeRequest(payload);
            decoded = !request.volumes.empty() && request.volumes.front() == request.archive;
        } catch (const DecoderProtocol::Malformed&) {
        }
    }
    DecoderProtocol::wipe(payload);
    return decoded;
}

DecodeRun::TestFault testFault() {
    DecodeRun::TestFault fault;
#ifdef OSTREL_DECODER_TEST_HOOKS
    // "crash-at-entry:N", "crash-at-data:N", "close-at-entry:N", "garbage-at-entry:N",
    // "confinement-fails".
    if (const char* text = std::getenv("OSTREL_DECODER_TEST_FAULT")) {
        const std::string spec(text);
        const std::size_t colon = spec.find(':');
        const std::string kind = spec.substr(0, colon);
        fault.at = colon == std::string::npos ? 1 : std::atoi(spec.c_str() + colon + 1);
        if (kind == "crash-at-entry")
            fault.kind = DecodeRun::TestFault::Kind::crashAtEntry;
        if (kind == "crash-at-data")
            fault.kind = DecodeRun::TestFault::Kind::crashAtData;
        if (kind == "close-at-entry")
            fault.kind = DecodeRun::TestFault::Kind::closeAtEntry;
        if (kind == "garbage-at-entry")
            fault.kind = DecodeRun::TestFault::Kind::garbageAtEntry;
        if (kind == "confinement-fails")
            fault.kind = DecodeRun::TestFault::Kind::confinementFails;
    }
#endif
    return fault;
}

// Ends this process with the engine's thread that started it. The engine may
// have ended before the wish was made: the channel's other end tells which
// process made it, and that must still be the parent.
bool endsWithItsParent(int channel) {
    if (prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0) != 0) {
        return false;
    }
    ucred peer{};
    socklen_t size = sizeof peer;
    return getsockopt(channel, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.pid == getppid();
}

// The engine's data ring, mapped while mapping is still allowed; its
// descriptor is closed, so that nothing decoded later can reach the memory
// except through this view. Empty when the engine gave none.
std::span<std::byte> mapRing() {
    const int descriptor = DecoderProtocol::kRingDescriptor;
    struct stat status {};
    if (fstat(descriptor, &status) != 0) {
        return {};
    }
    const std::size_t size = DecoderProtocol::kRingSlots * DecoderProtocol::kMaxChunk;
    void* view = status.st_size == static_cast<off_t>(size)
                     ? mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, descriptor, 0)
                     : MAP_FAILED;
    close(descriptor);
    if (view == MAP_FAILED) {
        return {};
    }
    return {static_cast<std::byte*>(view), size};
}

DecoderProtocol::AbsentLayers absentLayers(const Sandbox::Report& report) {
    DecoderProtocol::AbsentLayers absent;
    absent.fileSystemRules = report.fileSystemRules == Sandbox::Layer::absent;
    absent.systemCallFilter = report.systemCallFilter == Sandbox::Layer::absent;
    absent.addressSpaceLimit = report.resourceLimits == Sandbox::Layer::absent;
    return absent;
}

}  // namespace

int main() {
    const int channel = DecoderProtocol::kChannelDescriptor;
    if (fcntl(channel, F_GETFD) < 0 || !endsWithItsParent(channel)) {
        return 2;
    }
    DecoderProtocol::Request request;
    if (!readRequest(channel, request)) {
        _exit(2);
    }
    const DecodeRun::TestFault fault = testFault();
    // What the library loads lazily (time zone data, locales, converters)
    // must be in memory before the file system is out of reach.
    tzset();
    const std::unique_ptr<DecodeBackend> backend = DecodeBackend::make(request.backend);
    backend->preload();
    const std::span<std::byte> ring = mapRing();
    std::vector<std::filesystem::path> readable(request.volumes.begin(), request.volumes.end());
    const Sandbox::Report report = Sandbox::confine(readable);

    MessageWriter out(channel);
    out.useRing(ring);
    if (!report.holds() || fault.kind == DecodeRun::TestFault::Kind::confinementFails) {
        if (request.password) {
            DecoderProtocol::wipe(*request.password);
        }
        DecodeRun::refuse(out);
        _exit(0);
    }
    DecodeRun::answer(*backend, request, absentLayers(report), out, fault);
    _exit(0);
}
