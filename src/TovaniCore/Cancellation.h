// Cancellation is the stop request of one job, or of a whole run: a flag
// that, once set, stays set, together with a descriptor that becomes
// readable at that moment. Code that blocks on something else (the engine
// waiting for its decoder) polls the descriptor beside it and wakes at
// once. cancel() is async-signal-safe, so a signal handler may call it.
//
//   Cancellation stop;
//   ExtractionHandlers handlers{.cancellation = &stop};
//   // from another thread, or a SIGINT handler:
//   stop.cancel();
//   // the extraction ends with ExtractionError::cancelled() within moments
//
//   pollfd waits[] = {{channel, POLLIN, 0}, {stop.descriptor(), POLLIN, 0}};
#pragma once

#include <atomic>
#include <memory>

#include "TovaniCore/Export.h"

namespace tovani {

class TOVANI_EXPORT Cancellation {
public:
    // Throws std::system_error when the process has no descriptor left.
    Cancellation();
    ~Cancellation();
    Cancellation(const Cancellation&) = delete;
    Cancellation& operator=(const Cancellation&) = delete;

    // Safe from any thread and from a signal handler; later calls do nothing.
    void cancel() noexcept;
    [[nodiscard]] bool isCancelled() const noexcept;
    // Readable from the moment cancel() is called on; never read from. -1
    // for never(), which poll() skips.
    [[nodiscard]] int descriptor() const noexcept { return readEnd_; }

    // A request that nothing can make: for callers that never cancel.
    static const Cancellation& never();

    // A new request, or none when the process has no descriptor left; for
    // callers that go on without throwing.
    static std::unique_ptr<Cancellation> tryMake() noexcept;

private:
    struct NoDescriptor {};
    explicit Cancellation(NoDescriptor) noexcept {}
    Cancellation(int readEnd, int writeEnd) noexcept : readEnd_(readEnd), writeEnd_(writeEnd) {}

    std::atomic<bool> cancelled_{false};
    int readEnd_ = -1;
    int writeEnd_ = -1;
};

}  // namespace tovani
