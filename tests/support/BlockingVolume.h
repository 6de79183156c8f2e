// BlockingVolume puts a named pipe where a volume of a set was, so that a
// reader that opens it blocks for good in open(), waiting for a writer that
// never comes, as it would on a FIFO a user or an attacker left there. The
// test learns which process is stuck there, with no timing guess.
//
//   BlockingVolume stuck(dir / "x.part2.rar");  // the file becomes a pipe
//   ... start the job that reads the set ...
//   pid_t decoder = stuck.awaitReader(::getpid());  // now blocked in open()
//   stop.cancel();
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>

namespace tovani::testing {

class BlockingVolume {
public:
    // Replaces whatever is at path by a FIFO; throws std::system_error.
    explicit BlockingVolume(std::filesystem::path path);
    // Lets a reader still waiting go on (it then reads the end at once).
    ~BlockingVolume();
    BlockingVolume(const BlockingVolume&) = delete;
    BlockingVolume& operator=(const BlockingVolume&) = delete;

    // The child of parent that waits in open() on a FIFO, once there is
    // one; -1 when none came within the timeout.
    [[nodiscard]] pid_t awaitReader(pid_t parent,
                                    std::chrono::milliseconds timeout = std::chrono::seconds(20));

private:
    std::filesystem::path path_;
};

}  // namespace tovani::testing
