#include "support/BlockingVolume.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>
#include <system_error>
#include <thread>

#include "support/ProcessTree.h"

namespace tovani::testing {

namespace fs = std::filesystem;

namespace {

// Where the kernel has a process sleep while it opens a FIFO that has no
// writer yet. Opening a writer here would let it on, and the reader would
// then fail on the pipe at once instead of staying stuck.
bool waitsInFifoOpen(pid_t pid) {
    std::ifstream wchan("/proc/" + std::to_string(pid) + "/wchan");
    std::string where;
    std::getline(wchan, where);
    return where == "wait_for_partner";
}

}  // namespace

BlockingVolume::BlockingVolume(fs::path path) : path_(std::move(path)) {
    fs::remove_all(path_);
    if (::mkfifo(path_.c_str(), 0644) != 0) {
        throw std::system_error(errno, std::generic_category(), "mkfifo " + path_.string());
    }
}

BlockingVolume::~BlockingVolume() {
    const int writer = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (writer >= 0) {
        ::close(writer);
    }
}

pid_t BlockingVolume::awaitReader(pid_t parent, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        for (const pid_t child : childrenOf(parent)) {
            if (waitsInFifoOpen(child)) {
                return child;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return -1;
}

}  // namespace tovani::testing
