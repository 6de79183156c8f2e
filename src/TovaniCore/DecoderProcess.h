// DecoderProcess is one running ostrel-decoder, the confined process that
// holds the UnRAR library, and the engine's end of the socket to it. The
// decoder gets the socket as descriptor 3, /dev/null as input, output and
// standard error, no other descriptor, and of the environment only the
// locale, the time zone and the tests' and sanitizers' switches. Destroying the object
// kills the decoder (SIGKILL) if it still runs and always reaps it.
//
// With a data ring, the decoder also gets, as descriptor 4, shared memory
// made here and sealed at its size before the decoder starts, so that it can
// neither shrink it under the engine's reads nor grow it; the engine maps it
// read-only.
//
// Every wait on the decoder also watches the caller's Cancellation and the
// decoder's own exit: a cancelled wait throws ExtractionError::cancelled()
// at once, and once the decoder has exited, what it wrote is still read but
// the stream then ends, even if a process it left behind holds the socket.
//
//   DecoderProcess decoder(DecoderProcess::installedPath());
//   decoder.send(frame, stop);
//   std::size_t got = decoder.receive(buffer, stop);  // 0 at the end of the stream
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <span>

#include "TovaniCore/Cancellation.h"

namespace tovani {

class DecoderProcess {
public:
    // Starts the program; throws ExtractionError::engineFailure() when it
    // cannot be started.
    explicit DecoderProcess(const std::filesystem::path& program, bool withRing = false);
    ~DecoderProcess();

    DecoderProcess(const DecoderProcess&) = delete;
    DecoderProcess& operator=(const DecoderProcess&) = delete;

    // Sends all bytes; throws DecoderFault when the decoder is gone, and
    // ExtractionError::cancelled() once cancellation is cancelled.
    void send(std::span<const std::byte> bytes, const Cancellation& cancellation);
    // Reads what is there, at least one byte, up to buffer.size(); 0 once the
    // decoder closed its end or exited and nothing it wrote is left. Throws
    // DecoderFault on a read error and ExtractionError::cancelled() once
    // cancellation is cancelled, checked before every read.
    [[nodiscard]] std::size_t receive(std::span<std::byte> buffer,
                                      const Cancellation& cancellation);

    // The engine's view of the data ring; empty without one.
    std::span<const std::byte> ring() const { return ring_; }

    // The decoder installed beside this library:
    // <libdir>/ostrel/<relative path to libexec>/ostrel/ostrel-decoder. The
    // build tree places it the same way; the static build for tests and
    // fuzzers names the build tree's decoder directly.
    static std::filesystem::path installedPath();

private:
    // Blocks until the socket has events, the decoder exited (then sets
    // exited_) or a signal arrived; throws cancelled() once cancelled.
    void await(short events, const Cancellation& cancellation);

    void makeRing();
    void releaseRing() noexcept;

    pid_t pid_ = -1;
    int socket_ = -1;
    int ringDescriptor_ = -1;
    std::span<const std::byte> ring_;
    // A pidfd of the decoder, opened on the first wait; readable once it exited.
    int exitWatch_ = -1;
    bool exited_ = false;
};

}  // namespace tovani
