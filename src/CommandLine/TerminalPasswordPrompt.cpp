#include "CommandLine/TerminalPasswordPrompt.h"

#include "CommandLine/TerminalText.h"
#include "Messages/PasswordPromptText.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>

namespace tovani::TerminalPasswordPrompt {

namespace {

// Restores the terminal's echo however the read ends.
class EchoOff {
public:
    EchoOff() {
        if (tcgetattr(STDIN_FILENO, &saved_) == 0) {
            termios quiet = saved_;
            quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            active_ = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
        }
    }
    ~EchoOff() {
        if (active_) {
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
        }
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    termios saved_{};
    bool active_ = false;
};

// One line without its line break; none at end of input or on an interrupt.
std::optional<std::string> readLine() {
    std::string line;
    for (;;) {
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n != 1) {
            // End of input, a read error, or Ctrl-C (EINTR) declines.
            return std::nullopt;
        }
        if (c == '\n') {
            return line;
        }
        line.push_back(c);
    }
}

}  // namespace

bool isAvailable() {
    return ::isatty(STDIN_FILENO) == 1;
}

std::optional<std::string> ask(const PasswordRequest& request) {
    const QString name = QString::fromStdString(terminalSafe(request.archiveName));
    const PasswordPromptText text = passwordPromptText(name, request.isRetry);
    std::fprintf(stderr, "%s\n%s\n", text.message.toStdString().c_str(),
                 text.information.toStdString().c_str());
    for (;;) {
        std::optional<std::string> line;
        {
            // Echo goes off before the prompt shows: switching it drops what
            // was typed so far, and what is typed once the prompt is there
            // must never be lost.
            EchoOff echoOff;
            std::fprintf(stderr, "%s: ", text.field.toStdString().c_str());
            std::fflush(stderr);
            line = readLine();
        }
        std::fputc('\n', stderr);
        if (!line) {
            return std::nullopt;
        }
        if (!line->empty()) {
            return line;
        }
    }
}

}  // namespace tovani::TerminalPasswordPrompt
