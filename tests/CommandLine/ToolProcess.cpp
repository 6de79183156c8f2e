#include "CommandLine/ToolProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <thread>

#include "support/TempDirectory.h"

namespace tovani::testing {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

int makeCaptureFile(fs::path& path) {
    std::string pattern = (fs::temp_directory_path() / "ostrel-tool-XXXXXX").string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        fail("mkstemp");
    path = pattern;
    return fd;
}

}  // namespace

ToolProcess::ToolProcess(const std::vector<std::string>& arguments,
                         const fs::path& workingDirectory, bool errorOnTerminal,
                         bool inputOnTerminal) {
    // Everything the child needs is prepared before fork: between fork and
    // exec only async-signal-safe calls are allowed.
    std::vector<std::string> args{OSTREL_EXTRACT_PATH};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const std::string directory = workingDirectory.string();

    const int outFd = makeCaptureFile(outFile_);
    int errFd = makeCaptureFile(errFile_);
    if (errorOnTerminal) {
        terminalMaster_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (terminalMaster_ < 0 || ::grantpt(terminalMaster_) != 0 ||
            ::unlockpt(terminalMaster_) != 0) {
            fail("posix_openpt");
        }
        ::close(errFd);
        errFd = ::open(::ptsname(terminalMaster_), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (errFd < 0)
            fail("open pts");
    }
    const int input = inputOnTerminal ? ::fcntl(errFd, F_DUPFD_CLOEXEC, 0)
                                      : ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (input < 0)
        fail("open the standard input");

    pid_ = ::fork();
    if (pid_ < 0)
        fail("fork");
    if (pid_ == 0) {
        ::signal(SIGINT, SIG_DFL);
        if (::dup2(input, 0) < 0 || ::dup2(outFd, 1) < 0 || ::dup2(errFd, 2) < 0 ||
            ::chdir(directory.c_str()) != 0) {
            ::_exit(126);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(input);
    ::close(outFd);
    ::close(errFd);
}

ToolProcess::~ToolProcess() {
    if (!reaped_ && pid_ > 0) {
        ::kill(pid_, SIGKILL);
        wait();
    }
    if (terminalMaster_ >= 0)
        ::close(terminalMaster_);
    std::error_code ec;
    fs::remove(outFile_, ec);
    fs::remove(errFile_, ec);
}

void ToolProcess::signal(int number) const {
    if (!reaped_)
        ::kill(pid_, number);
}

bool ToolProcess::awaitOnTerminal(const std::string& text) {
    return waitUntil([&] {
        char buffer[4096];
        pollfd ready{terminalMaster_, POLLIN, 0};
        if (::poll(&ready, 1, 0) == 1 && (ready.revents & POLLIN) != 0) {
            const ssize_t count = ::read(terminalMaster_, buffer, sizeof buffer);
            if (count > 0) {
                terminalText_.append(buffer, static_cast<std::size_t>(count));
            }
        }
        return terminalText_.find(text) != std::string::npos;
    });
}

void ToolProcess::type(const std::string& text) const {
    if (::write(terminalMaster_, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        fail("type on the terminal");
}

void ToolProcess::drainTerminal() {
    // Reads until every writer of the terminal is gone (EIO on Linux).
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(terminalMaster_, buffer, sizeof buffer);
        if (count > 0) {
            terminalText_.append(buffer, static_cast<std::size_t>(count));
        } else if (count == 0 || errno != EINTR) {
            return;
        }
    }
}

bool ToolProcess::endsWithin(std::chrono::milliseconds timeout) {
    return waitUntil(
        [&] {
            siginfo_t info{};
            return reaped_ || (::waitid(P_PID, static_cast<id_t>(pid_), &info,
                                        WEXITED | WNOHANG | WNOWAIT) == 0 &&
                               info.si_pid == pid_);
        },
        timeout);
}

ToolProcess::Result ToolProcess::wait() {
    Result result;
    if (terminalMaster_ >= 0)
        drainTerminal();
    int status = 0;
    rusage usage{};
    while (::wait4(pid_, &status, 0, &usage) < 0) {
        if (errno != EINTR)
            fail("wait4");
    }
    reaped_ = true;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.peakKiB = usage.ru_maxrss;
    result.out = readFile(outFile_);
    result.err = terminalMaster_ >= 0 ? terminalText_ : readFile(errFile_);
    return result;
}

ToolProcess::Result ToolProcess::run(const std::vector<std::string>& arguments,
                                     const fs::path& workingDirectory) {
    ToolProcess process(arguments, workingDirectory);
    return process.wait();
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace tovani::testing
