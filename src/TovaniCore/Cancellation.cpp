#include "TovaniCore/Cancellation.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <system_error>

namespace tovani {

// A handler may only touch lock-free atomics.
static_assert(std::atomic<bool>::is_always_lock_free);

Cancellation::Cancellation() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::system_error(errno, std::generic_category(), "cannot make a cancellation pipe");
    }
    readEnd_ = ends[0];
    writeEnd_ = ends[1];
}

std::unique_ptr<Cancellation> Cancellation::tryMake() noexcept {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        return nullptr;
    }
    // Plain new: the constructor cannot throw, and nothing is half-made.
    std::unique_ptr<Cancellation> made(new (std::nothrow) Cancellation(ends[0], ends[1]));
    if (!made) {
        ::close(ends[0]);
        ::close(ends[1]);
    }
    return made;
}

Cancellation::~Cancellation() {
    if (readEnd_ >= 0) {
        ::close(readEnd_);
        ::close(writeEnd_);
    }
}

void Cancellation::cancel() noexcept {
    if (cancelled_.exchange(true) || writeEnd_ < 0) {
        return;
    }
    const int savedErrno = errno;
    // One byte is never read, so the descriptor stays readable for good.
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(writeEnd_, &byte, 1);
    errno = savedErrno;
}

bool Cancellation::isCancelled() const noexcept {
    return cancelled_.load();
}

const Cancellation& Cancellation::never() {
    static const Cancellation none{NoDescriptor{}};
    return none;
}

}  // namespace tovani
