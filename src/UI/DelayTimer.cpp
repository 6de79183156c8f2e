#include "UI/DelayTimer.h"

#include <QTimer>

namespace tovani {

namespace {

class QtDelayTimer final : public DelayTimer {
public:
    QtDelayTimer() {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            // Kept until the call returns: `then` may start the timer again.
            const std::function<void()> then = then_;
            then();
        });
    }

    void start(std::chrono::milliseconds delay, std::function<void()> then) override {
        then_ = std::move(then);
        timer_.start(delay);
    }
    void stop() override { timer_.stop(); }
    bool isActive() const override { return timer_.isActive(); }

private:
    QTimer timer_;
    std::function<void()> then_;
};

}  // namespace

std::unique_ptr<DelayTimer> makeDelayTimer() {
    return std::make_unique<QtDelayTimer>();
}

}  // namespace tovani
