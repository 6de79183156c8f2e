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

void onInterrupt(int) { interrupted.store(true); }

// Ctrl-C cancels the running extraction; without SA_RESTART a pending
// password read returns at once and declines.
void installInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
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
    return tovani::ExtractCommand(*options, interrupted).run();
}
