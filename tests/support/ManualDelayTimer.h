// ManualDelayTimer stands in for the real DelayTimer in tests: it never fires
// by itself; the test lets the delay run out with elapse(), at the moment it
// chooses, and can ask what delay was asked for and how often it was started.
//
//   auto timer = std::make_unique<ManualDelayTimer>();
//   ManualDelayTimer& appearance = *timer;
//   ProgressWindowController progress(nullptr, {}, std::move(timer));
//   progress.begin("a.rar", 1, 1);
//   EXPECT_EQ(appearance.delay(), std::chrono::seconds(1));
//   appearance.elapse();   // the window comes up now
#pragma once

#include <chrono>
#include <functional>
#include <utility>

#include "UI/DelayTimer.h"

namespace tovani::testing {

class ManualDelayTimer final : public DelayTimer {
public:
    void start(std::chrono::milliseconds delay, std::function<void()> then) override {
        delay_ = delay;
        then_ = std::move(then);
        active_ = true;
        ++starts_;
    }
    void stop() override { active_ = false; }
    bool isActive() const override { return active_; }

    // The delay runs out: the timer fires if it is running.
    void elapse() {
        if (!active_) {
            return;
        }
        active_ = false;
        const std::function<void()> then = then_;
        then();
    }
    std::chrono::milliseconds delay() const { return delay_; }
    int starts() const { return starts_; }

private:
    std::chrono::milliseconds delay_{0};
    std::function<void()> then_;
    bool active_ = false;
    int starts_ = 0;
};

}  // namespace tovani::testing
