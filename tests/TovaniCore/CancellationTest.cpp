// A cancellation made from a signal handler wakes a poll on its descriptor
// and stays made; never() can be waited on and is never made.
#include "TovaniCore/Cancellation.h"

#include <poll.h>
#include <signal.h>

#include <gtest/gtest.h>

namespace tovani {
namespace {

Cancellation* fromHandler = nullptr;

void onSignal(int) {
    fromHandler->cancel();
}

bool readable(int descriptor) {
    pollfd wait{descriptor, POLLIN, 0};
    return ::poll(&wait, 1, 0) == 1 && (wait.revents & POLLIN) != 0;
}

TEST(Cancellation, ASignalHandlerCancelsAndTheDescriptorStaysReadable) {
    Cancellation stop;
    EXPECT_FALSE(stop.isCancelled());
    EXPECT_FALSE(readable(stop.descriptor()));

    fromHandler = &stop;
    struct sigaction action {};
    struct sigaction saved {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(::sigaction(SIGUSR1, &action, &saved), 0);
    ::raise(SIGUSR1);
    ::raise(SIGUSR1);
    ::sigaction(SIGUSR1, &saved, nullptr);

    EXPECT_TRUE(stop.isCancelled());
    EXPECT_TRUE(readable(stop.descriptor()));
    EXPECT_TRUE(readable(stop.descriptor())) << "a poll does not use the cancellation up";
}

TEST(Cancellation, NeverIsNotCancelledAndPollSkipsIt) {
    const Cancellation& never = Cancellation::never();
    EXPECT_FALSE(never.isCancelled());
    EXPECT_EQ(never.descriptor(), -1);
    pollfd wait{never.descriptor(), POLLIN, 0};
    EXPECT_EQ(::poll(&wait, 1, 0), 0);
}

}  // namespace
}  // namespace tovani
