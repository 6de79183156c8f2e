// DecoderProcess is one running ostrel-decoder, the confined process that
// holds the UnRAR library, and the engine's end of the socket to it. The
// decoder gets the socket as descriptor 3, /dev/null as input, output and
// standard error, no other descriptor, and of the environment only the
// locale, the time zone and the tests' and sanitizers' switches. Destroying the object
// kills the decoder (SIGKILL) if it still runs and always reaps it.
//
//   DecoderProcess decoder(DecoderProcess::installedPath());
//   decoder.send(frame);
//   std::size_t got = decoder.receive(buffer);  // 0 at the end of the stream
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <span>

namespace tovani {

class DecoderProcess {
public:
    // Starts the program; throws ExtractionError::engineFailure() when it
    // cannot be started.
    explicit DecoderProcess(const std::filesystem::path& program);
    ~DecoderProcess();

    DecoderProcess(const DecoderProcess&) = delete;
    DecoderProcess& operator=(const DecoderProcess&) = delete;

    // Sends all bytes; throws DecoderFault when the decoder is gone.
    void send(std::span<const std::byte> bytes);
    // Reads what is there, at least one byte, up to buffer.size(); 0 once the
    // decoder closed its end. Throws DecoderFault on a read error.
    [[nodiscard]] std::size_t receive(std::span<std::byte> buffer);

    // The decoder installed beside this library:
    // <libdir>/<relative path to libexec>/ostrel/ostrel-decoder. The build
    // tree places it the same way.
    static std::filesystem::path installedPath();

private:
    pid_t pid_ = -1;
    int socket_ = -1;
};

}  // namespace tovani
