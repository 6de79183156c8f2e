#include "App/TerminationSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>

namespace tovani {

namespace {

// The write end, read by the handler: a plain int is all a handler may touch.
volatile sig_atomic_t writeEnd = -1;

void forward(int signalNumber) {
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signalNumber);
    if (writeEnd >= 0) {
        // Full or failing pipe: a signal is already on its way.
        [[maybe_unused]] const ssize_t written = ::write(writeEnd, &number, 1);
    }
    errno = savedErrno;
}

constexpr int handled[] = {SIGTERM, SIGHUP};

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    writeEnd = pipe_[1];
    notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &TerminationSignals::drain);
    struct sigaction action = {};
    action.sa_handler = forward;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : handled) {
        ::sigaction(signalNumber, &action, nullptr);
    }
}

TerminationSignals::~TerminationSignals() {
    if (pipe_[0] < 0) {
        return;
    }
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : handled) {
        ::sigaction(signalNumber, &action, nullptr);
    }
    writeEnd = -1;
    notifier_.reset();
    ::close(pipe_[0]);
    ::close(pipe_[1]);
}

void TerminationSignals::drain() {
    unsigned char number = 0;
    while (::read(pipe_[0], &number, 1) == 1) {
        emit received(number);
    }
}

}  // namespace tovani
