// ostrel-peak-memory runs a command and reports the peak memory of its whole
// process tree, which GNU time cannot: its %M is the largest single process,
// so the confined decoder's memory would go unseen beside the tool's. Every
// few milliseconds it finds the command and all its descendants and sums
// their proportional (Pss) and resident (Rss) set sizes from
// /proc/<pid>/smaps_rollup; the largest sums are the peaks. Pss shares each
// page among the processes that map it, so the tree's Pss sum counts shared
// pages once. For bench/run.sh; never installed.
//
//   ostrel-peak-memory [-i MILLISECONDS] [-v] -o FILE -- COMMAND [ARGUMENT...]
//   FILE then holds one line: peak_pss_kb peak_rss_kb samples processes
//   and with -v one more line per process: pid name peak_pss_kb peak_rss_kb
//
// Its exit status is the command's (128 plus the signal that ended it).
// Kernels built without /proc/<pid>/task/<tid>/children are common, so
// descendants are found by their parent (see ProcessTree). The sampler is a
// subreaper, so that a process whose parent ended stays in the tree. A
// process that shares its parent's memory (posix_spawn's child until it
// executes its program) is counted once.
#include <dirent.h>
#include <fcntl.h>
#include <linux/kcmp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

namespace {

// Reads a small /proc file into buffer; returns its length, -1 if gone.
ssize_t readProcFile(const char* path, char* buffer, std::size_t size) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    ssize_t total = 0;
    while (static_cast<std::size_t>(total) + 1 < size) {
        const ssize_t got = ::read(fd, buffer + total, size - 1 - static_cast<std::size_t>(total));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        total += got;
    }
    ::close(fd);
    buffer[total] = '\0';
    return total;
}

unsigned long long fieldNumber(const char* text, const char* name) {
    const char* at = std::strstr(text, name);
    return at != nullptr ? std::strtoull(at + std::strlen(name), nullptr, 10) : 0;
}

struct Usage {
    unsigned long long pss = 0;  // kB
    unsigned long long rss = 0;  // kB
};

// pid's Pss and Rss; none when the process has gone (a zombie, with no
// memory left, has zero).
std::optional<Usage> memoryOf(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/smaps_rollup", static_cast<int>(pid));
    char buffer[4096];
    if (readProcFile(path, buffer, sizeof buffer) < 0) {
        return std::nullopt;
    }
    return Usage{fieldNumber(buffer, "\nPss:"), fieldNumber(buffer, "\nRss:")};
}

// Whether the two processes share one address space; false when the kernel
// cannot tell.
bool shareMemory(pid_t one, pid_t other) {
    return ::syscall(SYS_kcmp, one, other, KCMP_VM, 0, 0) == 0;
}

// Each process's own peak, with the name it had then, for -v.
struct ProcessPeak {
    Usage peak;
    std::string name;
};

std::string nameOf(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/comm", static_cast<int>(pid));
    char buffer[64];
    if (readProcFile(path, buffer, sizeof buffer) <= 0) {
        return "?";
    }
    std::string name(buffer);
    if (!name.empty() && name.back() == '\n') {
        name.pop_back();
    }
    return name;
}

// Tgid and PPid of pid; false when no such process is visible.
bool identityOf(pid_t pid, pid_t& group, pid_t& parent) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
    char buffer[2048];
    if (readProcFile(path, buffer, sizeof buffer) <= 0) {
        return false;
    }
    group = static_cast<pid_t>(fieldNumber(buffer, "\nTgid:"));
    parent = static_cast<pid_t>(fieldNumber(buffer, "\nPPid:"));
    return group > 0;
}

// The number the kernel gave the newest process or thread, from the last
// field of /proc/loadavg; -1 if unreadable.
pid_t lastPid() {
    char buffer[128];
    if (readProcFile("/proc/loadavg", buffer, sizeof buffer) <= 0) {
        return -1;
    }
    const char* last = std::strrchr(buffer, ' ');
    return last != nullptr ? static_cast<pid_t>(std::strtol(last + 1, nullptr, 10)) : -1;
}

// The processes under `root` (this sampler). Scanning all of /proc on every
// tick costs more than the sampling itself, so only the numbers handed out
// since the last tick are looked at: each new process is put in the tree
// when its parent is in it. A number is handed out a moment before its
// process shows in /proc, so one not found is looked for again a few times.
// When the numbers wrap around, all of /proc is scanned once.
class ProcessTree {
public:
    ProcessTree(pid_t root, pid_t child) : root_(root), last_(lastPid()) { add(child); }

    // The tree's processes now, the root excluded.
    const std::vector<pid_t>& members() {
        const pid_t last = lastPid();
        if (last >= 0 && last < last_) {
            scanAll();
        } else {
            for (pid_t pid = last_ + 1; pid <= last; ++pid) {
                look(pid, kRetries);
            }
        }
        if (last >= 0) {
            last_ = last;
        }
        std::vector<std::pair<pid_t, int>> retry;
        retry.swap(pending_);
        for (const auto& [pid, retries] : retry) {
            look(pid, retries - 1);
        }
        return members_;
    }

    // A member whose memory can no longer be read has ended.
    void remove(pid_t pid) {
        members_.erase(std::find(members_.begin(), members_.end(), pid));
        memberSet_.erase(pid);
    }

    std::size_t seen() const { return seen_; }

private:
    static constexpr int kRetries = 3;

    void add(pid_t pid) {
        if (memberSet_.insert(pid).second) {
            members_.push_back(pid);
            ++seen_;
        }
    }

    void look(pid_t pid, int retries) {
        pid_t group = 0;
        pid_t parent = 0;
        if (!identityOf(pid, group, parent)) {
            if (retries > 0) {
                pending_.emplace_back(pid, retries);
            }
            return;
        }
        // A thread shares its process's memory, counted once already.
        if (group == pid && (parent == root_ || memberSet_.count(parent) != 0)) {
            add(pid);
        }
    }

    // Ascending, so that a parent is placed before its children.
    void scanAll() {
        std::vector<pid_t> pids;
        if (DIR* proc = ::opendir("/proc")) {
            while (const dirent* entry = ::readdir(proc)) {
                char* end = nullptr;
                const long pid = std::strtol(entry->d_name, &end, 10);
                if (end != entry->d_name && *end == '\0') {
                    pids.push_back(static_cast<pid_t>(pid));
                }
            }
            ::closedir(proc);
        }
        std::sort(pids.begin(), pids.end());
        for (const pid_t pid : pids) {
            if (memberSet_.count(pid) == 0) {
                look(pid, 0);
            }
        }
    }

    pid_t root_;
    pid_t last_;
    std::vector<pid_t> members_;
    std::unordered_set<pid_t> memberSet_;
    std::vector<std::pair<pid_t, int>> pending_;
    std::size_t seen_ = 0;
};

int usage() {
    std::fputs(
        "usage: ostrel-peak-memory [-i MILLISECONDS] [-v] -o FILE -- COMMAND [ARGUMENT...]\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    double intervalMs = 2.0;
    const char* output = nullptr;
    bool perProcess = false;
    int first = 1;
    for (; first < argc; ++first) {
        const std::string argument = argv[first];
        if (argument == "--") {
            ++first;
            break;
        }
        if (argument == "-i" && first + 1 < argc) {
            intervalMs = std::atof(argv[++first]);
        } else if (argument == "-v") {
            perProcess = true;
        } else if (argument == "-o" && first + 1 < argc) {
            output = argv[++first];
        } else {
            return usage();
        }
    }
    if (output == nullptr || first >= argc || intervalMs <= 0) {
        return usage();
    }

    // Orphans of the command are reparented here and stay in the tree.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    // SIGCHLD is taken by sigtimedwait, so that the sampler ends as soon as
    // the command does instead of at the next tick.
    sigset_t childEnded;
    sigset_t original;
    sigemptyset(&childEnded);
    sigaddset(&childEnded, SIGCHLD);
    sigprocmask(SIG_BLOCK, &childEnded, &original);
    const pid_t child = ::fork();
    if (child < 0) {
        std::perror("ostrel-peak-memory: fork");
        return 127;
    }
    if (child == 0) {
        sigprocmask(SIG_SETMASK, &original, nullptr);
        ::execvp(argv[first], argv + first);
        std::perror("ostrel-peak-memory: exec");
        ::_exit(127);
    }

    ProcessTree tree(::getpid(), child);
    const auto nanoseconds = static_cast<long>(intervalMs * 1e6);
    const timespec interval{nanoseconds / 1'000'000'000, nanoseconds % 1'000'000'000};
    Usage peak;
    std::map<pid_t, ProcessPeak> processes;
    unsigned long long samples = 0;
    int status = 0;
    for (;;) {
        Usage sum;
        std::vector<pid_t> gone;
        std::vector<pid_t> counted;
        for (const pid_t pid : tree.members()) {
            if (std::any_of(counted.begin(), counted.end(),
                            [pid](pid_t other) { return shareMemory(pid, other); })) {
                continue;
            }
            const std::optional<Usage> usage = memoryOf(pid);
            if (!usage) {
                gone.push_back(pid);
                continue;
            }
            counted.push_back(pid);
            sum.pss += usage->pss;
            sum.rss += usage->rss;
            if (perProcess && usage->pss > processes[pid].peak.pss) {
                processes[pid] = ProcessPeak{*usage, nameOf(pid)};
            }
        }
        for (const pid_t pid : gone) {
            tree.remove(pid);
        }
        peak.pss = std::max(peak.pss, sum.pss);
        peak.rss = std::max(peak.rss, sum.rss);
        ++samples;
        // Reaps the command and any orphan handed over to this process.
        bool done = false;
        int endedStatus = 0;
        for (pid_t ended; (ended = ::waitpid(-1, &endedStatus, WNOHANG)) > 0;) {
            if (ended == child) {
                status = endedStatus;
                done = true;
            }
        }
        if (done) {
            break;
        }
        ::sigtimedwait(&childEnded, nullptr, &interval);
    }

    std::FILE* file = std::fopen(output, "w");
    if (file == nullptr) {
        std::perror("ostrel-peak-memory: output");
        return 127;
    }
    std::fprintf(file, "%llu %llu %llu %zu\n", peak.pss, peak.rss, samples, tree.seen());
    for (const auto& [pid, process] : processes) {
        std::fprintf(file, "%d %s %llu %llu\n", static_cast<int>(pid), process.name.c_str(),
                     process.peak.pss, process.peak.rss);
    }
    std::fclose(file);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
