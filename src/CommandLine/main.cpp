// ostrel-extract: extracts RAR archives from the command line, with the
// same pipeline and messages as the app.
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "CommandLine/CommandLineOptions.h"
#include "CommandLine/ExtractCommand.h"

namespace {

std::atomic<bool> interrupted{false};
// The first signal that stopped the run; the exit status reports it.
volatile sig_atomic_t stoppedBy = 0;

void onInterrupt(int signal) {
    if (stoppedBy == 0) {
        stoppedBy = signal;
    }
    interrupted.store(true);
}

// Ctrl-C, a closed terminal (SIGHUP) and kill or timeout (SIGTERM) all
// cancel the running extraction, which removes its workspace before the
// tool exits; without SA_RESTART a pending password read returns at once
// and declines.
void installInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const auto options = tovani::CommandLineOptions::parse(arguments);
    if (!options) {
        std::fputs(tovani::CommandLineOptions::usage, stderr);
        return 2;
    }
    installInterruptHandler();
    const int status = tovani::ExtractCommand(*options, interrupted).run();
    // As a shell reports a process a signal ended: 128 plus its number.
    if (status == tovani::ExtractCommand::interruptedStatus && stoppedBy != 0) {
        return 128 + stoppedBy;
    }
    return status;
}
