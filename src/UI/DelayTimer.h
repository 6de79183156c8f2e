// DelayTimer is a single-shot delay: the one before the progress window
// comes up, the one before an idle app quits. It is a small interface so that
// tests can let the delay run out at a moment they choose instead of waiting
// it out on the wall clock; the app uses makeDelayTimer(), on Qt's event loop.
//
//   std::unique_ptr<DelayTimer> timer = makeDelayTimer();
//   timer->start(std::chrono::seconds(1), [this] { appear(); });
//   timer->isActive();   // true until it fires or is stopped
//   timer->stop();       // it will not fire
#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace tovani {

class DelayTimer {
public:
    virtual ~DelayTimer() = default;

    // Calls `then` once `delay` has passed on the main thread, unless the
    // timer is stopped or started again first (which starts a new delay).
    virtual void start(std::chrono::milliseconds delay, std::function<void()> then) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
};

// The real timer, on Qt's event loop. Destroyed, it never fires.
std::unique_ptr<DelayTimer> makeDelayTimer();

}  // namespace tovani
