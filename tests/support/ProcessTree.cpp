#include "support/ProcessTree.h"

#include <signal.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace tovani::testing {

namespace fs = std::filesystem;

std::vector<pid_t> childrenOf(pid_t pid) {
    // /proc/PID/task/TID/children is not in every kernel; every process's
    // stat names its parent.
    std::vector<pid_t> children;
    std::error_code error;
    for (const fs::directory_entry& item : fs::directory_iterator("/proc", error)) {
        const pid_t candidate = static_cast<pid_t>(std::atoi(item.path().filename().c_str()));
        if (candidate <= 0) {
            continue;
        }
        std::ifstream stat(item.path() / "stat");
        std::string line;
        std::getline(stat, line);
        // pid (comm) state ppid ...; comm may hold spaces and parentheses.
        const std::size_t close = line.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        std::istringstream rest(line.substr(close + 1));
        std::string state;
        pid_t parent = 0;
        rest >> state >> parent;
        if (parent == pid) {
            children.push_back(candidate);
        }
    }
    return children;
}

bool isGone(pid_t pid) {
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

}  // namespace tovani::testing
