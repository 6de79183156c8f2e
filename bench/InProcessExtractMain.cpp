// ostrel-extract-inprocess: ostrel-extract with the UnRAR library in its own
// process instead of the confined decoder, for bench/run.sh to compare the
// two. Options, messages and exit statuses are ostrel-extract's.
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "CommandLine/CommandLineOptions.h"
#include "CommandLine/ExtractCommand.h"
#include "InProcessRarEngine.h"

namespace {

std::atomic<bool> interrupted{false};
volatile sig_atomic_t stoppedBy = 0;

void onInterrupt(int signal) {
    if (stoppedBy == 0) {
        stoppedBy = signal;
    }
    interrupted.store(true);
}

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
    const int status = tovani::ExtractCommand(*options, interrupted,
                                              std::make_shared<const tovani::InProcessRarEngine>())
                           .run();
    if (status == tovani::ExtractCommand::interruptedStatus && stoppedBy != 0) {
        return 128 + stoppedBy;
    }
    return status;
}
