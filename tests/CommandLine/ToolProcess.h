// ToolProcess runs the ostrel-extract program built alongside the tests, as
// a user's shell would: its own standard output and error (captured in
// files), standard input from /dev/null unless a terminal is wanted, a
// working directory, and signals sent while it runs. Waiting yields the exit
// status and the child's peak memory.
//
//   ToolProcess tool({"--quiet", "a.rar"}, dir);
//   ToolProcess::Result run = tool.wait();
//   EXPECT_EQ(run.exitCode, 0);
//   EXPECT_EQ(run.out, (dir / "a.txt").string() + "\n");
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tovani::testing {

class ToolProcess {
public:
    struct Result {
        // The exit status, or 128 + the signal that ended the process.
        int exitCode = 0;
        std::string out;
        std::string err;
        // Peak resident memory of the child in KiB (getrusage ru_maxrss).
        long peakKiB = 0;
    };

    // Starts the program with the arguments in workingDirectory. With
    // errorOnTerminal its standard error is a pseudo-terminal, and what is
    // drawn there ends up in Result::err; with inputOnTerminal as well, its
    // standard input is that terminal too, where type() writes. Throws
    // std::system_error when it cannot be started.
    ToolProcess(const std::vector<std::string>& arguments,
                const std::filesystem::path& workingDirectory, bool errorOnTerminal = false,
                bool inputOnTerminal = false);
    ~ToolProcess();
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    pid_t pid() const { return pid_; }
    void signal(int number) const;

    // With a terminal: true once text has appeared on it (false after 20 s),
    // and typing on it, as a user at the keyboard.
    bool awaitOnTerminal(const std::string& text);
    void type(const std::string& text) const;

    // True once the process has ended (it is not reaped yet); false when it
    // still runs after the timeout.
    bool endsWithin(std::chrono::milliseconds timeout);
    // Reaps the process (once) and collects what it wrote.
    Result wait();

    // Runs to the end in one go.
    static Result run(const std::vector<std::string>& arguments,
                      const std::filesystem::path& workingDirectory);

private:
    void drainTerminal();

    pid_t pid_ = -1;
    bool reaped_ = false;
    std::filesystem::path outFile_;
    std::filesystem::path errFile_;
    int terminalMaster_ = -1;
    std::string terminalText_;
};

// Polls condition every millisecond until it holds or the timeout passes.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(20));

}  // namespace tovani::testing
