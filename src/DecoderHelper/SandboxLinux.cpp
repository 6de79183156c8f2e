// Linux confinement in three independent layers: resource limits, Landlock
// file system rules and a seccomp filter. Each one is set even when another
// fails, and the order matters: everything that reads /proc comes first, the
// file system rules need no_new_privs, and the filter comes last because it
// forbids the calls that set the other layers. A layer the kernel does not
// have is absent; one it has that cannot be set has failed.
#include "DecoderHelper/Sandbox.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/landlock.h>
#include <sched.h>
#include <seccomp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fstream>
#include <initializer_list>

#if defined(__SANITIZE_ADDRESS__)
#define TOVANI_SANDBOX_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TOVANI_SANDBOX_ASAN 1
#endif
#endif

#ifdef TOVANI_SANDBOX_ASAN
extern "C" {
void __lsan_do_leak_check(void) __attribute__((weak));
}
#endif

namespace tovani::Sandbox {

namespace fs = std::filesystem;

namespace {

// Room for the decoder above what the process maps when it is confined and
// the dictionary it holds: the arenas and stacks of the library's threads,
// its buffers, with margin.
[[maybe_unused]] constexpr std::uint64_t kAddressSpaceHeadroom = 2ULL << 30;
// The largest dictionary the library decodes (rar -md4g), which it allocates
// whole.
[[maybe_unused]] constexpr std::uint64_t kLargestDictionary = 4ULL << 30;

// Landlock rights by ABI version, spelled out because the system header may
// predate the kernel.
constexpr std::uint64_t kFsRightsAbi1 = (1ULL << 13) - 1;      // execute .. make symlink
constexpr std::uint64_t kFsRefer = 1ULL << 13;                 // ABI 2
constexpr std::uint64_t kFsTruncate = 1ULL << 14;              // ABI 3
constexpr std::uint64_t kFsIoctlDev = 1ULL << 15;              // ABI 5
constexpr std::uint64_t kNetBindTcp = 1ULL << 0;               // ABI 4
constexpr std::uint64_t kNetConnectTcp = 1ULL << 1;            // ABI 4
constexpr std::uint64_t kScopeAbstractUnixSocket = 1ULL << 0;  // ABI 6
constexpr std::uint64_t kScopeSignal = 1ULL << 1;              // ABI 6

// The rule set attribute as of ABI 6. The kernel accepts a longer structure
// than it knows as long as the fields it does not know are zero.
struct RulesetAttr {
    std::uint64_t handledAccessFs = 0;
    std::uint64_t handledAccessNet = 0;
    std::uint64_t scoped = 0;
};

// One condition on a system call argument (the library's own macros are C
// compound literals).
scmp_arg_cmp argument(unsigned index, scmp_compare op, std::uint64_t a, std::uint64_t b = 0) {
    return scmp_arg_cmp{index, op, a, b};
}

std::string errorText(int error) {
    return std::strerror(error);
}

int threadCount() {
    std::error_code ec;
    int count = 0;
    for (fs::directory_iterator it("/proc/self/task", ec), end; !ec && it != end;
         it.increment(ec)) {
        ++count;
    }
    return count;
}

// Every task (thread or process) that runs under the caller's user id, which
// is what the kernel counts against RLIMIT_NPROC; 0 when /proc cannot say.
std::uint64_t tasksOfThisUser() {
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return 0;
    }
    const uid_t user = getuid();
    std::uint64_t count = 0;
    while (const dirent* item = readdir(proc)) {
        if (item->d_name[0] < '1' || item->d_name[0] > '9') {
            continue;
        }
        struct stat process {};
        struct stat tasks {};
        if (fstatat(dirfd(proc), item->d_name, &process, 0) != 0 || process.st_uid != user) {
            continue;
        }
        // A task folder holds one entry per thread, besides "." and "..".
        const std::string taskFolder = std::string(item->d_name) + "/task";
        if (fstatat(dirfd(proc), taskFolder.c_str(), &tasks, 0) == 0 && tasks.st_nlink > 2) {
            count += tasks.st_nlink - 2;
        } else {
            ++count;
        }
    }
    closedir(proc);
    return count;
}

// Room for a dictionary: the largest one, or the machine's memory where that
// is less. The decoder is confined before it reads a byte, so no archive
// sizes this room, and none can make the decoder hold more than the machine
// has; one whose dictionary does not fit fails as out of memory.
[[maybe_unused]] std::uint64_t dictionaryRoom() {
    struct sysinfo figures {};
    if (sysinfo(&figures) != 0) {
        return 1ULL << 30;
    }
    const std::uint64_t memory =
        static_cast<std::uint64_t>(figures.totalram) * std::max<std::uint32_t>(figures.mem_unit, 1);
    return std::min(kLargestDictionary, memory);
}

std::uint64_t mappedBytes() {
    std::ifstream statm("/proc/self/statm");
    std::uint64_t pages = 0;
    statm >> pages;
    return pages * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

// The leak check at exit traces the process from a cloned task, which the
// filter would end with SIGSYS. It therefore runs now, which also disarms the
// one at exit. Error reports still complete, with frames as module+offset:
// their symbolizer is a child process that cannot start any more (starting
// it beforehand costs 200 ms per process; the in-process fuzzers give
// symbolized reports for the same inputs).
void prepareSanitizer() {
#ifdef TOVANI_SANDBOX_ASAN
    if (__lsan_do_leak_check != nullptr) {
        __lsan_do_leak_check();
    }
#endif
}

// A layer's outcome: applied, or absent or failed with the reason.
struct Outcome {
    Layer layer = Layer::applied;
    std::string reason;
};

Outcome failed(std::string reason) {
    return {Layer::failed, std::move(reason)};
}

Outcome absent(std::string reason) {
    return {Layer::absent, std::move(reason)};
}

Outcome setResourceLimits(std::uint64_t mapped) {
    // A write to a regular file then fails with EFBIG instead of ending the
    // process: a diagnostic on a stderr redirected to a file is lost, no more.
    signal(SIGXFSZ, SIG_IGN);
    const rlimit zero{0, 0};
    if (setrlimit(RLIMIT_FSIZE, &zero) != 0) {
        return failed("resource limits: file size limit: " + errorText(errno));
    }
    if (setrlimit(RLIMIT_CORE, &zero) != 0) {
        return failed("resource limits: core dump limit: " + errorText(errno));
    }
    // The kernel counts the user's tasks against this limit, so a limit just
    // above the count now lets the library start its pools and stops a
    // thread bomb after a few dozen. The user's other programs may start
    // threads meanwhile and take some of the room; they cannot widen it.
    const std::uint64_t tasks = tasksOfThisUser();
    if (tasks == 0) {
        return failed("resource limits: cannot count the user's tasks in /proc");
    }
    const rlimit threads{tasks + kThreadHeadroom, tasks + kThreadHeadroom};
    if (setrlimit(RLIMIT_NPROC, &threads) != 0) {
        return failed("resource limits: thread limit: " + errorText(errno));
    }
#ifdef TOVANI_SANDBOX_ASAN
    (void)mapped;
    return absent(
        "resource limits: no address space limit in AddressSanitizer builds, whose shadow "
        "memory reserves terabytes of address space");
#else
    const std::uint64_t limit = mapped + kAddressSpaceHeadroom + dictionaryRoom();
    const rlimit addressSpace{limit, limit};
    if (setrlimit(RLIMIT_AS, &addressSpace) != 0) {
        return failed("resource limits: address space limit: " + errorText(errno));
    }
    return {};
#endif
}

// A path that cannot be opened or ruled gets no rule: the archive then fails
// to open, rather than the rules being left off.
Outcome setFileSystemRules(const std::vector<fs::path>& readable, int threads) {
    const long abi =
        syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (abi < 0) {
        if (errno == EOPNOTSUPP) {
            return absent("file system rules: Landlock is disabled in this kernel");
        }
        if (errno == ENOSYS) {
            return absent("file system rules: this kernel has no Landlock");
        }
        return failed("file system rules: cannot ask for Landlock: " + errorText(errno));
    }
    // Landlock binds only the calling thread and the ones it starts later.
    if (threads == 0) {
        return failed("file system rules: cannot count the process's threads in /proc");
    }
    if (threads != 1) {
        return failed("file system rules: the process already runs " + std::to_string(threads) +
                      " threads, which the rules would not bind");
    }
    // Every right the kernel knows is handled, so everything not granted below
    // is refused: writing, creating, removing, linking, truncating, TCP and
    // abstract sockets, and signals to processes outside the sandbox.
    RulesetAttr attr;
    attr.handledAccessFs = kFsRightsAbi1 | (abi >= 2 ? kFsRefer : 0) |
                           (abi >= 3 ? kFsTruncate : 0) | (abi >= 5 ? kFsIoctlDev : 0);
    attr.handledAccessNet = abi >= 4 ? kNetBindTcp | kNetConnectTcp : 0;
    attr.scoped = abi >= 6 ? kScopeAbstractUnixSocket | kScopeSignal : 0;
    const int ruleset =
        static_cast<int>(syscall(SYS_landlock_create_ruleset, &attr, sizeof attr, 0));
    if (ruleset < 0) {
        return failed("file system rules: cannot create the rule set: " + errorText(errno));
    }
    for (const fs::path& path : readable) {
        const int fd = open(path.c_str(), O_PATH | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        struct stat status {};
        landlock_path_beneath_attr beneath{};
        beneath.allowed_access = LANDLOCK_ACCESS_FS_READ_FILE;
        if (fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
            beneath.allowed_access |= LANDLOCK_ACCESS_FS_READ_DIR;
        }
        beneath.parent_fd = fd;
        syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &beneath, 0);
        close(fd);
    }
    const long restricted = syscall(SYS_landlock_restrict_self, ruleset, 0);
    const int restrictError = errno;
    close(ruleset);
    if (restricted != 0) {
        return failed("file system rules: cannot apply the rule set: " + errorText(restrictError));
    }
    return {};
}

// An allow-list: any call not named here
// fails with EPERM, which library code treats as an ordinary failure. Calls
// that only code taken over by an archive would make end the process at once
// (SIGSYS) instead, so it cannot probe further; the parent reports that like
// any other crash.
Outcome setSystemCallFilter(bool readsFolders) {
    // A kernel built without seccomp does not know the question.
    if (prctl(PR_GET_SECCOMP, 0, 0, 0, 0) < 0 && errno == EINVAL) {
        return absent("system call filter: this kernel has no seccomp");
    }
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ERRNO(EPERM));
    if (filter == nullptr) {
        return failed("system call filter: cannot create the filter");
    }
    int failure = 0;
    const auto rule = [&](std::uint32_t action, int call,
                          std::initializer_list<scmp_arg_cmp> conditions = {}) {
        const int rc = seccomp_rule_add_array(
            filter, action, call, static_cast<unsigned>(conditions.size()), conditions.begin());
        if (rc != 0 && failure == 0) {
            failure = rc;
        }
    };
    const auto allow = [&](std::initializer_list<int> calls) {
        for (int call : calls) {
            rule(SCMP_ACT_ALLOW, call);
        }
    };

    // Reading, and talking over the descriptors the parent handed over. Writes
    // to regular files stop at the file size limit.
    allow({SCMP_SYS(read), SCMP_SYS(readv), SCMP_SYS(pread64), SCMP_SYS(preadv), SCMP_SYS(lseek),
           SCMP_SYS(close), SCMP_SYS(dup), SCMP_SYS(dup3), SCMP_SYS(write), SCMP_SYS(writev),
           SCMP_SYS(sendmsg), SCMP_SYS(recvmsg), SCMP_SYS(recvfrom), SCMP_SYS(poll),
           SCMP_SYS(ppoll), SCMP_SYS(pselect6)});
    // fcntl for descriptor and status flags only. Naming a signal owner
    // (F_SETOWN, F_SETOWN_EX), a signal (F_SETSIG) or O_ASYNC would turn a
    // write into a signal to any process of the user, which Landlock scopes
    // only from ABI 6 on; leases and locks would reach other programs
    // through the archive.
    for (const int command : {F_GETFD, F_SETFD, F_GETFL, F_DUPFD, F_DUPFD_CLOEXEC}) {
        rule(SCMP_ACT_ALLOW, SCMP_SYS(fcntl),
             {argument(1, SCMP_CMP_EQ, static_cast<std::uint64_t>(command))});
    }
    rule(SCMP_ACT_ALLOW, SCMP_SYS(fcntl),
         {argument(1, SCMP_CMP_EQ, F_SETFL), argument(2, SCMP_CMP_MASKED_EQ, O_ASYNC, 0)});
    // Anonymous pipes touch no file system; the sanitizers probe memory
    // through one.
    allow({SCMP_SYS(pipe), SCMP_SYS(pipe2)});
    // sendto only as send(), without a destination. The helper inherits only
    // its connected channel, so sendmsg can reach no one else either.
    rule(SCMP_ACT_ALLOW, SCMP_SYS(sendto), {argument(4, SCMP_CMP_EQ, 0)});
    // Metadata and names: Landlock does not cover them, and the library looks
    // for the next volume by name.
    allow({SCMP_SYS(fstat), SCMP_SYS(newfstatat), SCMP_SYS(statx), SCMP_SYS(faccessat),
           SCMP_SYS(faccessat2), SCMP_SYS(access), SCMP_SYS(getcwd), SCMP_SYS(readlink),
           SCMP_SYS(readlinkat)});
    if (readsFolders) {
        allow({SCMP_SYS(getdents64)});
    }
    // The library reads the umask to compute file modes; it only matters for
    // files, which cannot be made. Terminal queries get the answer a pipe
    // would give.
    allow({SCMP_SYS(umask)});
    rule(SCMP_ACT_ERRNO(ENOTTY), SCMP_SYS(ioctl));
    // Opening for reading only; the flags are a plain argument the filter can
    // see. openat2 keeps its flags in memory, out of the filter's sight, and
    // glibc falls back to openat on ENOSYS. O_PATH opens escape Landlock's
    // read right, and the library never needs them.
    const std::uint64_t refused = O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND | O_PATH;
    rule(SCMP_ACT_ALLOW, SCMP_SYS(openat), {argument(2, SCMP_CMP_MASKED_EQ, refused, 0)});
    rule(SCMP_ACT_ALLOW, SCMP_SYS(open), {argument(1, SCMP_CMP_MASKED_EQ, refused, 0)});
    rule(SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(openat2));
    // Memory, but no new executable pages: code injected into data cannot be
    // made runnable.
    allow({SCMP_SYS(brk), SCMP_SYS(munmap), SCMP_SYS(mremap), SCMP_SYS(madvise)});
    rule(SCMP_ACT_ALLOW, SCMP_SYS(mmap), {argument(2, SCMP_CMP_MASKED_EQ, PROT_EXEC, 0)});
    rule(SCMP_ACT_ALLOW, SCMP_SYS(mprotect), {argument(2, SCMP_CMP_MASKED_EQ, PROT_EXEC, 0)});
    // Threads, which the library's decompression uses; clone3 keeps its flags in
    // memory, so it answers ENOSYS and glibc falls back to clone. A clone that
    // is not a thread is a new process: that ends the process, as does
    // starting a program or tracing another process.
    allow({SCMP_SYS(futex), SCMP_SYS(set_robust_list), SCMP_SYS(rseq), SCMP_SYS(sched_yield),
           SCMP_SYS(sched_getaffinity), SCMP_SYS(getpid), SCMP_SYS(gettid), SCMP_SYS(exit),
           SCMP_SYS(exit_group), SCMP_SYS(restart_syscall)});
    rule(SCMP_ACT_ALLOW, SCMP_SYS(clone),
         {argument(0, SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD)});
    rule(SCMP_ACT_KILL_PROCESS, SCMP_SYS(clone),
         {argument(0, SCMP_CMP_MASKED_EQ, CLONE_THREAD, 0)});
    rule(SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3));
    for (int call : {SCMP_SYS(fork), SCMP_SYS(vfork), SCMP_SYS(execve), SCMP_SYS(execveat),
                     SCMP_SYS(ptrace), SCMP_SYS(process_vm_readv), SCMP_SYS(process_vm_writev)}) {
        rule(SCMP_ACT_KILL_PROCESS, call);
    }
    // Signals to itself only (abort() and the sanitizers raise them).
    allow({SCMP_SYS(rt_sigaction), SCMP_SYS(rt_sigprocmask), SCMP_SYS(rt_sigreturn),
           SCMP_SYS(sigaltstack)});
    const auto self = static_cast<std::uint64_t>(getpid());
    rule(SCMP_ACT_ALLOW, SCMP_SYS(tgkill), {argument(0, SCMP_CMP_EQ, self)});
    rule(SCMP_ACT_ALLOW, SCMP_SYS(kill), {argument(0, SCMP_CMP_EQ, self)});
    // Time, randomness, and reading (never raising) its own limits.
    allow({SCMP_SYS(clock_gettime), SCMP_SYS(clock_getres), SCMP_SYS(clock_nanosleep),
           SCMP_SYS(nanosleep), SCMP_SYS(gettimeofday), SCMP_SYS(getrandom), SCMP_SYS(getrlimit)});
    rule(SCMP_ACT_ALLOW, SCMP_SYS(prlimit64),
         {argument(0, SCMP_CMP_EQ, 0), argument(2, SCMP_CMP_EQ, 0)});
    // Everything else fails with EPERM: sockets and connections, creating,
    // renaming, linking or removing files, changing modes and owners,
    // truncating, mounting, namespaces, raising limits, prctl.

    // Bind every thread, and keep the process from gaining privileges.
    if (failure == 0) {
        failure = seccomp_attr_set(filter, SCMP_FLTATR_CTL_TSYNC, 1);
    }
    // Calls through another ABI (32-bit int 0x80, x32) would bypass the rules
    // above, which name the native calls only.
    if (failure == 0) {
        failure = seccomp_attr_set(filter, SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_KILL_PROCESS);
    }
    if (failure == 0) {
        failure = seccomp_load(filter);
    }
    seccomp_release(filter);
    if (failure != 0) {
        return failed("system call filter: " + errorText(-failure));
    }
    return {};
}

}  // namespace

Report confine(const std::vector<fs::path>& readable) noexcept {
    Report report;
    try {
        prepareSanitizer();
        // localtime_r would read the zone file on first use, which then fails.
        tzset();
        const int threads = threadCount();
        bool readsFolders = false;
        for (const fs::path& path : readable) {
            std::error_code ec;
            readsFolders = readsFolders || fs::is_directory(path, ec);
        }
        const auto note = [&report](Layer& layer, Outcome outcome) {
            layer = outcome.layer;
            if (layer != Layer::applied) {
                report.missing.push_back(std::move(outcome.reason));
            }
        };
        note(report.resourceLimits, setResourceLimits(mappedBytes()));
        // No core files and no tracing by other processes of the same user.
        prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
        if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
            const std::string reason = errorText(errno);
            report.missing.push_back("file system rules: no_new_privs: " + reason);
            report.missing.push_back("system call filter: no_new_privs: " + reason);
            return report;
        }
        note(report.fileSystemRules, setFileSystemRules(readable, threads));
        note(report.systemCallFilter, setSystemCallFilter(readsFolders));
    } catch (...) {
        // Only allocation can throw here; the layers set so far still hold,
        // and the ones not reached stay failed.
        report.missing.push_back("confinement stopped: out of memory");
    }
    return report;
}

}  // namespace tovani::Sandbox
