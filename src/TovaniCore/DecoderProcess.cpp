#include "TovaniCore/DecoderProcess.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <vector>

#include "TovaniCore/DecoderProtocol.h"
#include "TovaniCore/DecoderReader.h"
#include "TovaniCore/ExtractionError.h"

extern char** environ;

namespace tovani {

namespace fs = std::filesystem;

namespace {

// Room for a few data messages in flight: the decoder decompresses ahead
// while the engine writes what it already has.
constexpr int kSocketBuffer = 1024 * 1024;
// Descriptors below this are the decoder's fixed ones; the engine's end and
// the decoder's end of the socket live above them.
constexpr int kFirstFreeDescriptor = 10;

class SpawnSetup {
public:
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
};

// What the decoder may see of the caller's environment: the locale and the
// time zone, by which the library reads names and local times; the fault
// switch of the tests' decoder build (the real decoder has none); and the
// sanitizers' options in sanitizer builds. Nothing else, so that no variable
// steers the library or a loader, and no secret reaches a process that an
// archive may take over.
bool passedToDecoder(std::string_view variable) {
    const std::string_view name = variable.substr(0, variable.find('='));
    return name == "LANG" || name == "LANGUAGE" || name.starts_with("LC_") || name == "TZ" ||
           name == "OSTREL_DECODER_TEST_FAULT" || name == "ASAN_OPTIONS" ||
           name == "LSAN_OPTIONS" || name == "UBSAN_OPTIONS";
}

std::vector<char*> decoderEnvironment() {
    std::vector<char*> passed;
    for (char** variable = environ; variable != nullptr && *variable != nullptr; ++variable) {
        if (passedToDecoder(*variable)) {
            passed.push_back(*variable);
        }
    }
    passed.push_back(nullptr);
    return passed;
}

int moveAbove(int descriptor) {
    const int moved = fcntl(descriptor, F_DUPFD_CLOEXEC, kFirstFreeDescriptor);
    close(descriptor);
    return moved;
}

}  // namespace

void DecoderProcess::makeRing() {
    const std::size_t size = DecoderProtocol::kRingSlots * DecoderProtocol::kMaxChunk;
    const int descriptor = memfd_create("ostrel-ring", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (descriptor < 0) {
        throw ExtractionError::engineFailure();
    }
    ringDescriptor_ = moveAbove(descriptor);
    // Sealed before the decoder has it: a ring it could shrink would fault
    // the engine's reads.
    if (ringDescriptor_ < 0 || ftruncate(ringDescriptor_, static_cast<off_t>(size)) != 0 ||
        fcntl(ringDescriptor_, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
        throw ExtractionError::engineFailure();
    }
    void* view = mmap(nullptr, size, PROT_READ, MAP_SHARED, ringDescriptor_, 0);
    if (view == MAP_FAILED) {
        throw ExtractionError::engineFailure();
    }
    ring_ = std::span<const std::byte>(static_cast<const std::byte*>(view), size);
}

DecoderProcess::DecoderProcess(const fs::path& program, bool withRing) {
    if (withRing) {
        try {
            makeRing();
        } catch (...) {
            releaseRing();
            throw;
        }
    }
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        throw ExtractionError::engineFailure();
    }
    // adddup2 onto the same number would keep close-on-exec set.
    socket_ = moveAbove(ends[0]);
    const int decoderEnd = moveAbove(ends[1]);
    if (socket_ < 0 || decoderEnd < 0) {
        if (socket_ >= 0)
            close(socket_);
        if (decoderEnd >= 0)
            close(decoderEnd);
        socket_ = -1;
        releaseRing();
        throw ExtractionError::engineFailure();
    }
    setsockopt(decoderEnd, SOL_SOCKET, SO_SNDBUF, &kSocketBuffer, sizeof kSocketBuffer);
    setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &kSocketBuffer, sizeof kSocketBuffer);

    int status;
    {
        SpawnSetup setup;
        posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&setup.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        // Whatever the decoder writes there comes from code an archive may
        // have taken over, and would reach the user's terminal as escape
        // sequences; what it has to say travels in the protocol.
        posix_spawn_file_actions_addopen(&setup.actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&setup.actions, decoderEnd,
                                         DecoderProtocol::kChannelDescriptor);
        if (ringDescriptor_ >= 0) {
            posix_spawn_file_actions_adddup2(&setup.actions, ringDescriptor_,
                                             DecoderProtocol::kRingDescriptor);
        }
        posix_spawn_file_actions_addclosefrom_np(&setup.actions,
                                                 DecoderProtocol::kRingDescriptor + 1);
        // The caller's thread may block signals or ignore some; the decoder
        // starts with the defaults.
        sigset_t none;
        sigset_t all;
        sigemptyset(&none);
        sigfillset(&all);
        posix_spawnattr_setsigmask(&setup.attributes, &none);
        posix_spawnattr_setsigdefault(&setup.attributes, &all);
        posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        const std::string path = program.string();
        char* const argv[] = {const_cast<char*>("ostrel-decoder"), nullptr};
        std::vector<char*> environment = decoderEnvironment();
        status = posix_spawn(&pid_, path.c_str(), &setup.actions, &setup.attributes, argv,
                             environment.data());
    }
    close(decoderEnd);
    // The mapping keeps the ring; the decoder has its own descriptor.
    if (ringDescriptor_ >= 0) {
        close(ringDescriptor_);
        ringDescriptor_ = -1;
    }
    if (status != 0) {
        pid_ = -1;
        close(socket_);
        socket_ = -1;
        releaseRing();
        throw ExtractionError::engineFailure();
    }
}

void DecoderProcess::releaseRing() noexcept {
    if (!ring_.empty()) {
        munmap(const_cast<std::byte*>(ring_.data()), ring_.size());
        ring_ = {};
    }
    if (ringDescriptor_ >= 0) {
        close(ringDescriptor_);
        ringDescriptor_ = -1;
    }
}

DecoderProcess::~DecoderProcess() {
    if (socket_ >= 0) {
        close(socket_);
    }
    releaseRing();
    if (exitWatch_ >= 0) {
        close(exitWatch_);
    }
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
}

void DecoderProcess::await(short events, const Cancellation& cancellation) {
    if (exitWatch_ < 0) {
        // The decoder is not reaped before the destructor, so its pid cannot
        // have been reused.
        exitWatch_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
        if (exitWatch_ < 0) {
            throw ExtractionError::engineFailure();
        }
    }
    pollfd waits[] = {
        {socket_, events, 0}, {exitWatch_, POLLIN, 0}, {cancellation.descriptor(), POLLIN, 0}};
    // A signal (EINTR) returns to the caller, which checks cancellation first.
    if (poll(waits, 3, -1) < 0 && errno != EINTR) {
        throw DecoderFault("waiting for the decoder failed");
    }
    if (cancellation.isCancelled() || (waits[2].revents & POLLIN) != 0) {
        throw ExtractionError::cancelled();
    }
    if ((waits[1].revents & POLLIN) != 0) {
        exited_ = true;
    }
}

void DecoderProcess::send(std::span<const std::byte> bytes, const Cancellation& cancellation) {
    while (!bytes.empty()) {
        if (cancellation.isCancelled()) {
            throw ExtractionError::cancelled();
        }
        const ssize_t sent =
            ::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0) {
            bytes = bytes.subspan(static_cast<std::size_t>(sent));
            continue;
        }
        if (errno == EINTR) {
            continue;
        }
        if ((errno != EAGAIN && errno != EWOULDBLOCK) || exited_) {
            throw DecoderFault("the decoder does not take its request");
        }
        await(POLLOUT, cancellation);
    }
}

std::size_t DecoderProcess::receive(std::span<std::byte> buffer, const Cancellation& cancellation) {
    for (;;) {
        if (cancellation.isCancelled()) {
            throw ExtractionError::cancelled();
        }
        const ssize_t got = ::recv(socket_, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (got >= 0) {
            return static_cast<std::size_t>(got);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == ECONNRESET) {
            return 0;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            throw DecoderFault("reading from the decoder failed");
        }
        // Everything the decoder wrote before it exited was already there;
        // whoever else still holds the socket is not heard.
        if (exited_) {
            return 0;
        }
        await(POLLIN, cancellation);
    }
}

fs::path DecoderProcess::installedPath() {
    // Any object of this library tells dladdr which file it was loaded from.
    static const char anchor = 0;
    Dl_info info{};
    if (dladdr(&anchor, &info) == 0 || info.dli_fname == nullptr) {
        return fs::path();
    }
    return (fs::absolute(info.dli_fname).parent_path() / OSTREL_DECODER_RELATIVE_PATH)
        .lexically_normal();
}

}  // namespace tovani
