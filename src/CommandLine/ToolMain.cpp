#include "CommandLine/ToolMain.h"

#include <signal.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "CommandLine/CommandLineOptions.h"
#include "CommandLine/ExtractCommand.h"

namespace tovani::ToolMain {

namespace {

// Made before the handlers are installed; cancel() is async-signal-safe.
Cancellation* interrupted = nullptr;
// The first signal that stopped the run; the exit status reports it.
volatile sig_atomic_t stoppedBy = 0;

void onInterrupt(int signal) {
    if (stoppedBy == 0) {
        stoppedBy = signal;
    }
    interrupted->cancel();
}

// Ctrl-C, a closed terminal (SIGHUP) and kill or timeout (SIGTERM) all
// cancel the running extraction, which wakes a wait on a stuck decoder,
// kills it and removes the workspace before the tool exits; without
// SA_RESTART a pending password read returns at once and declines.
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

int run(int argc, char** argv, std::shared_ptr<const ArchiveEngine> engine) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const auto options = CommandLineOptions::parse(arguments);
    if (!options) {
        std::fputs(CommandLineOptions::usage, stderr);
        return 2;
    }
    // Asked for, the usage is an answer, not an error.
    if (options->help) {
        std::fputs(CommandLineOptions::usage, stdout);
        return 0;
    }
    static Cancellation stop;
    interrupted = &stop;
    installInterruptHandler();
    const int status = ExtractCommand(*options, stop, std::move(engine)).run();
    // As a shell reports a process a signal ended: 128 plus its number.
    if (status == ExtractCommand::interruptedStatus && stoppedBy != 0) {
        return 128 + stoppedBy;
    }
    return status;
}

}  // namespace tovani::ToolMain
