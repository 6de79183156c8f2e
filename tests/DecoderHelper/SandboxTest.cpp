// Each case forks a child that confines itself, as an unprivileged user, and
// then tries what a decoder taken over by an archive would try. The child
// reports through a pipe it inherited, the one channel left to it.
#include "DecoderHelper/Sandbox.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/seccomp.h>
#include <locale.h>
#include <netinet/in.h>
#include <pthread.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysinfo.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <linux/landlock.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "DecoderHelper/LibarchiveBackend.h"
#include "RarBridge/tovani_bridge.h"
#include "support/RarTool.h"
#include "support/TempDirectory.h"

namespace tovani::Sandbox {
namespace {

namespace fs = std::filesystem;
using testing::TempDirectory;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
constexpr bool kAddressSanitizer = __has_feature(address_sanitizer);
#else
constexpr bool kAddressSanitizer = false;
#endif

// The unprivileged user the children run as when the tests run as root. It
// is looked up once: a parallel test may add it while this one runs, and the
// owner of the test's files and the children's user must stay the same.
struct TestUser {
    uid_t uid;
    gid_t gid;
};

std::optional<TestUser> testUser() {
    static const std::optional<TestUser> user = []() -> std::optional<TestUser> {
        if (geteuid() != 0) {
            return std::nullopt;
        }
        constexpr const char* kName = "ostrel-sandbox";
        if (getpwnam(kName) == nullptr) {
            // A parallel test may add it first; the lookup below settles it.
            testing::runTool("/", "useradd", {"--system", "--no-create-home", kName});
        }
        const passwd* entry = getpwnam(kName);
        if (entry == nullptr) {
            throw std::runtime_error("cannot add the test user");
        }
        return TestUser{entry->pw_uid, entry->pw_gid};
    }();
    return user;
}

// Gives the test user a folder tree, so that only the sandbox stands in its way.
void handOver(const fs::path& root) {
    const auto user = testUser();
    if (!user) {
        return;
    }
    ASSERT_EQ(chown(root.c_str(), user->uid, user->gid), 0);
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        ASSERT_EQ(lchown(item.path().c_str(), user->uid, user->gid), 0);
    }
}

// What the child wrote (the layers that hold, then the attempt's text), or
// the signal that ended it first.
struct Outcome {
    std::string layers;  // "fs sc rl" flags as 0/1, then each missing line
    std::string result;
    int signal = 0;
    bool fileSystemRules() const { return layers.compare(0, 1, "1") == 0; }
    bool systemCallFilter() const { return layers.compare(2, 1, "1") == 0; }
};

Outcome runChild(const std::vector<fs::path>& readable, const std::function<std::string()>& attempt,
                 bool confined = true) {
    const auto user = testUser();
    int channel[2];
    if (pipe(channel) != 0) {
        throw std::runtime_error("pipe");
    }
    const pid_t pid = fork();
    if (pid == 0) {
        close(channel[0]);
        if (user &&
            (setgroups(0, nullptr) != 0 || setresgid(user->gid, user->gid, user->gid) != 0 ||
             setresuid(user->uid, user->uid, user->uid) != 0)) {
            _exit(120);
        }
        std::string message = "- - -";
        if (confined) {
            const Report report = confine(readable);
            const auto flag = [](Layer layer) { return layer == Layer::applied ? "1" : "0"; };
            message = std::string(flag(report.fileSystemRules)) + " " +
                      flag(report.systemCallFilter) + " " + flag(report.resourceLimits);
            for (const std::string& line : report.missing) {
                message += "\n" + line;
            }
        }
        // The layers go first: the attempt may end the child.
        message += '\0';
        bool written = write(channel[1], message.data(), message.size()) ==
                       static_cast<ssize_t>(message.size());
        const std::string result = attempt();
        written = written && write(channel[1], result.data(), result.size()) ==
                                 static_cast<ssize_t>(result.size());
        _exit(written ? 0 : 121);
    }
    close(channel[1]);
    std::string message;
    char buffer[4096];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;) {
        message.append(buffer, n);
    }
    close(channel[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    Outcome outcome;
    outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    const size_t split = message.find('\0');
    outcome.layers = message.substr(0, split);
    if (split != std::string::npos) {
        outcome.result = message.substr(split + 1);
    }
    return outcome;
}

std::string errorName(int rc) {
    return rc >= 0 ? "ok" : strerrorname_np(errno);
}

std::string createFile(const fs::path& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd >= 0) {
        close(fd);
    }
    return errorName(fd);
}

std::string readByte(const fs::path& path) {
    const int fd = open(path.c_str(), O_RDONLY);
    char byte = 0;
    const std::string result = errorName(fd < 0 ? fd : static_cast<int>(read(fd, &byte, 1)));
    if (fd >= 0) {
        close(fd);
    }
    return result;
}

TEST(Sandbox, ReportsEachLayerAndRefusesFileRulesToAThreadedCaller) {
    const bool landlock =
        syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION) >= 0;
    // A kernel with seccomp filters faults on the missing program.
    const bool seccomp =
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, nullptr) != 0 && errno == EFAULT;
    const std::string expected = std::string(landlock ? "1 " : "0 ") + (seccomp ? "1 " : "0 ") +
                                 (kAddressSanitizer ? "0" : "1");
    Outcome alone = runChild({}, [] { return std::string(); });
    EXPECT_EQ(alone.layers.substr(0, 5), expected);
    EXPECT_EQ(alone.layers.find("address space") != std::string::npos, kAddressSanitizer);

    // Landlock would bind only the calling thread; the filter binds them all.
    if (!landlock) {
        return;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        std::thread([] { pause(); }).detach();
        const Report report = confine({});
        const bool refused =
            report.fileSystemRules == Layer::failed && report.systemCallFilter == Layer::applied &&
            !report.holds() &&
            std::any_of(report.missing.begin(), report.missing.end(), [](const std::string& line) {
                return line.find("2 threads") != std::string::npos;
            });
        _exit(refused ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(Sandbox, DecodesAVolumeSetConfinedToItsVolumes) {
    TempDirectory dir;
    std::string data;
    for (long i = 0; data.size() < 3'000'000; ++i) {
        data += std::to_string(i * 7919 % 100003) + ",";
    }
    testing::makeTree(dir.path(), {{"grüße.txt", data}});
    const fs::path first =
        testing::rar(dir.path(), "set.rar", {"-ma5", "-m3", "-v64k"}, {"grüße.txt"});
    const std::vector<fs::path> volumes = testing::volumeFiles(first);
    ASSERT_GT(volumes.size(), 1u);
    handOver(dir.path());
    // Made before confinement, as the helper must: the bridge makes this
    // locale on first use, and its data is on disk.
    const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    ASSERT_NE(utf8, static_cast<locale_t>(0));

    const Outcome outcome = runChild(volumes, [&first] {
        tovani_archive* archive = nullptr;
        tovani_archive_info info{};
        if (tovani_open(first.c_str(), true, nullptr, &archive, &info) != TOVANI_OK) {
            return std::string("open failed");
        }
        std::string text;
        tovani_entry entry{};
        while (tovani_read_entry(archive, &entry) == TOVANI_OK) {
            text += entry.name_utf8;
            text += ':';
            const auto collect = [](const uint8_t* bytes, size_t size, void* into) {
                static_cast<std::string*>(into)->append(reinterpret_cast<const char*>(bytes), size);
                return true;
            };
            std::string contents;
            text +=
                std::to_string(tovani_extract_entry(archive, collect, &contents)) + ":" + contents;
        }
        tovani_close(archive);
        return text;
    });
    EXPECT_EQ(outcome.signal, 0);
    EXPECT_EQ(outcome.result, "grüße.txt:0:" + data);
    freelocale(utf8);
}

// The libarchive backend reads each of its kinds of input confined to the
// input's files: a split 7z and zip, compressed tars, a single compressed file.
TEST(Sandbox, DecodesWithLibarchiveConfinedToTheVolumes) {
    struct Case {
        std::string label;
        std::string program;
        std::vector<std::string> arguments;
        std::string made;  // the file made, or for a split set its name before ".001"
        bool split = false;
    };
    const std::vector<Case> cases = {
        {"split 7z", "7z", {"a", "-bd", "-v64k", "-mx=1", "set.7z", "grüße.txt"}, "set.7z", true},
        {"split zip",
         "7z",
         {"a", "-bd", "-tzip", "-v64k", "set.zip", "grüße.txt"},
         "set.zip",
         true},
        {"tar.xz", "bsdtar", {"-cJf", "t.tar.xz", "grüße.txt"}, "t.tar.xz"},
        {"tar.zst", "bsdtar", {"--zstd", "-cf", "t.tar.zst", "grüße.txt"}, "t.tar.zst"},
        {"tar.bz2", "bsdtar", {"-cjf", "t.tar.bz2", "grüße.txt"}, "t.tar.bz2"},
        {"gz", "bsdtar", {"--format", "raw", "-czf", "grüße.txt.gz", "grüße.txt"}, "grüße.txt.gz"},
    };
    std::string data;
    for (long i = 0; data.size() < 1'000'000; ++i) {
        data += std::to_string(i * 7919 % 100003) + ",";
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TempDirectory dir;
        testing::makeTree(dir.path(), {{"grüße.txt", data}});
        testing::runTool(dir.path(), c.program, c.arguments);
        std::vector<fs::path> volumes;
        if (c.split) {
            for (int part = 1; fs::exists(dir / (c.made + ".00" + std::to_string(part))); ++part) {
                volumes.push_back(dir / (c.made + ".00" + std::to_string(part)));
            }
            ASSERT_GT(volumes.size(), 1u);
        } else {
            volumes.push_back(dir / c.made);
        }
        handOver(dir.path());
        DecoderProtocol::Request request;
        request.backend = DecoderProtocol::Backend::libarchive;
        request.forExtraction = true;
        request.archive = volumes.front().string();
        for (const fs::path& volume : volumes) {
            request.volumes.push_back(volume.string());
        }
        // What the backend loads lazily is loaded here, before the fork, as
        // the decoder loads it before it confines itself.
        LibarchiveBackend backend;
        backend.preload();

        const Outcome outcome = runChild(volumes, [&] {
            struct Collect final : DataRelay {
                std::string bytes;
                bool deliver(std::span<const std::byte> chunk) override {
                    bytes.append(reinterpret_cast<const char*>(chunk.data()), chunk.size());
                    return true;
                }
            } collect;
            DecoderProtocol::Opened opened;
            if (backend.open(request, opened) != DecoderProtocol::Status::ok) {
                return std::string("open failed");
            }
            std::string text;
            DecoderProtocol::EntryRecord record;
            bool atEnd = false;
            while (backend.next(record, atEnd) == DecoderProtocol::Status::ok && !atEnd) {
                text += record.name + ":" +
                        std::to_string(static_cast<int>(backend.extract(collect))) + ":";
            }
            DecoderProtocol::Finished finished;
            backend.close(finished);
            return text + std::to_string(finished.volumes.size()) + ":" + collect.bytes;
        });
        EXPECT_EQ(outcome.signal, 0);
        // A single compressed file's entry is named by the engine, not here.
        const std::string name = c.made.ends_with(".gz") ? "" : "grüße.txt";
        EXPECT_EQ(outcome.result, name + ":0:" + std::to_string(volumes.size() - 1) + ":" + data);
    }
}

TEST(Sandbox, StopsDroppingFilesBesideTheArchiveOrInTmp) {
    TempDirectory dir;
    testing::writeFile(dir / "a.rar", "archive");
    handOver(dir.path());
    // The user may create files there: only the sandbox stands in the way.
    EXPECT_EQ(runChild(
                  {}, [&dir] { return createFile(dir / "control"); }, false)
                  .result,
              "ok");

    for (const fs::path& readable : {dir / "a.rar", dir.path()}) {
        const fs::path probe = "/tmp/ostrel-sandbox-probe-" + std::to_string(getpid());
        const Outcome outcome = runChild({readable}, [&dir, &probe] {
            return createFile(dir / "dropped") + " " + createFile(probe) + " " +
                   errorName(mkdir((dir / "sub").c_str(), 0755)) + " " +
                   errorName(rename((dir / "a.rar").c_str(), (dir / "b.rar").c_str())) + " " +
                   errorName(unlink((dir / "a.rar").c_str())) + " " +
                   errorName(symlink("/etc/passwd", (dir / "link").c_str()));
        });
        if (!outcome.systemCallFilter()) {
            GTEST_SKIP() << outcome.layers;
        }
        EXPECT_EQ(outcome.result, "EPERM EPERM EPERM EPERM EPERM EPERM") << readable;
        EXPECT_FALSE(fs::exists(probe));
        fs::remove(probe);
    }
    EXPECT_EQ(testing::directoryNames(dir.path()), (std::set<std::string>{"a.rar", "control"}));
    EXPECT_EQ(testing::readFile(dir / "a.rar"), "archive");
}

TEST(Sandbox, StopsReadingFilesOutsideTheSet) {
    TempDirectory dir;
    testing::makeTree(
        dir.path(),
        {{"set/a.rar", "archive"}, {"set/notes.txt", "inside"}, {"secret.txt", "outside"}});
    handOver(dir.path());
    EXPECT_EQ(runChild(
                  {}, [&dir] { return readByte(dir / "secret.txt"); }, false)
                  .result,
              "ok");

    const auto probe = [&dir] {
        return readByte(dir / "set/a.rar") + " " + readByte(dir / "set/notes.txt") + " " +
               readByte(dir / "secret.txt") + " " + readByte("/etc/passwd") + " " +
               errorName(open((dir / "set").c_str(), O_RDONLY | O_DIRECTORY));
    };
    // A path that cannot be opened gets no rule; the others still hold.
    const Outcome file = runChild({dir / "gone.rar", dir / "set/a.rar"}, probe);
    if (!file.fileSystemRules()) {
        GTEST_SKIP() << file.layers;
    }
    EXPECT_EQ(file.result, "ok EACCES EACCES EACCES EACCES") << file.layers;
    const Outcome folder = runChild({dir / "set"}, probe);
    EXPECT_EQ(folder.result, "ok ok EACCES EACCES ok") << folder.layers;
}

TEST(Sandbox, StopsConnectingSockets) {
    TempDirectory dir;
    const fs::path socketPath = dir / "listener";
    const int local = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un localAddress{};
    localAddress.sun_family = AF_UNIX;
    std::strncpy(localAddress.sun_path, socketPath.c_str(), sizeof localAddress.sun_path - 1);
    ASSERT_EQ(bind(local, reinterpret_cast<sockaddr*>(&localAddress), sizeof localAddress), 0);
    ASSERT_EQ(listen(local, 4), 0);
    ASSERT_EQ(chmod(socketPath.c_str(), 0777), 0);
    const int network = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in networkAddress{};
    networkAddress.sin_family = AF_INET;
    networkAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof networkAddress;
    ASSERT_EQ(bind(network, reinterpret_cast<sockaddr*>(&networkAddress), length), 0);
    ASSERT_EQ(getsockname(network, reinterpret_cast<sockaddr*>(&networkAddress), &length), 0);
    ASSERT_EQ(listen(network, 4), 0);
    handOver(dir.path());

    const auto attempt = [&] {
        const int a = socket(AF_UNIX, SOCK_STREAM, 0);
        const int b = socket(AF_INET, SOCK_STREAM, 0);
        int pair[2];
        return errorName(a < 0 ? a
                               : connect(a, reinterpret_cast<sockaddr*>(&localAddress),
                                         sizeof localAddress)) +
               " " +
               errorName(b < 0 ? b
                               : connect(b, reinterpret_cast<sockaddr*>(&networkAddress),
                                         sizeof networkAddress)) +
               " " + errorName(socketpair(AF_UNIX, SOCK_STREAM, 0, pair));
    };
    EXPECT_EQ(runChild({}, attempt, false).result, "ok ok ok");
    const Outcome outcome = runChild({dir.path()}, attempt);
    close(local);
    close(network);
    if (!outcome.systemCallFilter()) {
        GTEST_SKIP() << outcome.layers;
    }
    EXPECT_EQ(outcome.result, "EPERM EPERM EPERM");
}

// socketcall(SYS_SOCKET) through the 32-bit entry point.
std::string socketThrough32BitAbi() {
    long result = 0;
    asm volatile("int $0x80" : "=a"(result) : "a"(102), "b"(1), "c"(0) : "memory");
    return std::to_string(result);
}

TEST(Sandbox, EndsAProcessThatStartsAProgramOrAProcessOrCallsThroughAnotherAbi) {
    // A kernel built or booted without 32-bit calls (ia32_emulation=0) ends
    // the caller with SIGSEGV before any filter runs; the call is refused
    // either way, only by someone else.
    const int refused32Bit =
        runChild({}, socketThrough32BitAbi, false).signal == SIGSEGV ? SIGSEGV : SIGSYS;
    const std::vector<std::pair<std::function<std::string()>, int>> attempts = {
        {[] {
             char* const arguments[] = {const_cast<char*>("/bin/true"), nullptr};
             execve("/bin/true", arguments, environ);
             return errorName(-1);
         },
         SIGSYS},
        {[] {
             const pid_t pid = fork();
             if (pid == 0) {
                 _exit(0);
             }
             return errorName(pid);
         },
         SIGSYS},
        // socket() as an x32 call, and as a 32-bit socketcall.
        {[] {
             return errorName(
                 static_cast<int>(syscall(0x40000000 | SYS_socket, AF_INET, SOCK_STREAM, 0)));
         },
         SIGSYS},
        {socketThrough32BitAbi, refused32Bit},
    };
    for (const auto& [attempt, signal] : attempts) {
        const Outcome outcome = runChild({}, attempt);
        if (!outcome.systemCallFilter()) {
            GTEST_SKIP() << outcome.layers;
        }
        EXPECT_EQ(outcome.signal, signal) << outcome.result;
    }
}

TEST(Sandbox, KeepsThreadsAndTheInheritedChannelWorking) {
    int channel[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, channel), 0);
    ASSERT_EQ(send(channel[0], "open", 4, 0), 4);
    const Outcome outcome = runChild({}, [&channel] {
        int sum = 0;
        std::thread([&sum] { sum = 42; }).join();
        char request[4] = {};
        const ssize_t received = recv(channel[1], request, sizeof request, 0);
        return std::to_string(sum) + " " + std::string(request, received > 0 ? received : 0) + " " +
               errorName(static_cast<int>(send(channel[1], "listing", 7, 0)));
    });
    EXPECT_EQ(outcome.result, "42 open ok");
    char reply[8] = {};
    EXPECT_EQ(recv(channel[0], reply, sizeof reply, MSG_DONTWAIT), 7);
    EXPECT_STREQ(reply, "listing");
    close(channel[0]);
    close(channel[1]);
}

TEST(Sandbox, StopsWritingThroughAnInheritedFileOrGrowingMemoryWithoutBound) {
    TempDirectory dir;
    testing::writeFile(dir / "victim", "victim");
    handOver(dir.path());
    const int victim = open((dir / "victim").c_str(), O_RDWR);
    ASSERT_GE(victim, 0);
    const Outcome outcome = runChild({}, [victim] {
        std::string memory = "unlimited";
        if (!kAddressSanitizer) {
            // Room for the largest dictionary (4 GiB), no more.
            void* dictionary = malloc(4ULL << 30);
            void* huge = malloc(8ULL << 30);
            memory = std::string(dictionary == nullptr ? "refused" : "granted") + "/" +
                     (huge == nullptr ? "refused" : "granted");
            free(dictionary);
            free(huge);
        }
        return errorName(static_cast<int>(write(victim, "x", 1))) + " " +
               errorName(ftruncate(victim, 0)) + " " + memory;
    });
    close(victim);
    if (!outcome.systemCallFilter()) {
        GTEST_SKIP() << outcome.layers;
    }
    struct sysinfo machine {};
    ASSERT_EQ(sysinfo(&machine), 0);
    const bool roomForDictionary =
        static_cast<std::uint64_t>(machine.totalram) * machine.mem_unit >= (4ULL << 30);
    if (kAddressSanitizer) {
        EXPECT_EQ(outcome.result, "EFBIG EPERM unlimited");
    } else if (roomForDictionary) {
        EXPECT_EQ(outcome.result, "EFBIG EPERM granted/refused");
    } else {
        EXPECT_TRUE(outcome.result.ends_with("/refused")) << outcome.result;
    }
    EXPECT_EQ(testing::readFile(dir / "victim"), "victim");
}

// A process of the test user that waits to be killed; ends it on destruction.
class Victim {
public:
    // Returns once the victim runs as the test user.
    Victim() {
        int ready[2];
        if (pipe(ready) != 0) {
            throw std::runtime_error("pipe");
        }
        pid_ = fork();
        if (pid_ == 0) {
            const auto user = testUser();
            if (user && (setresgid(user->gid, user->gid, user->gid) != 0 ||
                         setresuid(user->uid, user->uid, user->uid) != 0)) {
                _exit(120);
            }
            (void)!write(ready[1], "r", 1);
            for (;;) {
                pause();
            }
        }
        close(ready[1]);
        char byte = 0;
        (void)!read(ready[0], &byte, 1);
        close(ready[0]);
    }
    ~Victim() {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    Victim(const Victim&) = delete;
    Victim& operator=(const Victim&) = delete;

    pid_t pid() const { return pid_; }
    // Neither ended, nor ending, nor with a signal on its way. A signal sent
    // through a descriptor is queued before the sender's write returns; the
    // victim then has it pending, is exiting (PF_EXITING), or is a zombie.
    bool alive() const {
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
            info.si_pid != 0) {
            return false;
        }
        std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
        std::string line;
        std::getline(stat, line);
        std::istringstream fields(line.substr(line.rfind(')') + 2));
        std::string field;
        for (int index = 3; index <= 9 && fields >> field; ++index) {
        }
        constexpr unsigned long kExiting = 0x4;
        if ((std::stoul(field) & kExiting) != 0) {
            return false;
        }
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        for (std::string text; std::getline(status, text);) {
            if ((text.starts_with("SigPnd:") || text.starts_with("ShdPnd:")) &&
                std::stoull(text.substr(7), nullptr, 16) != 0) {
                return false;
            }
        }
        return true;
    }

private:
    pid_t pid_;
};

// The route that needs no kill(): a pipe whose owner is the victim, with
// SIGKILL as its signal and O_ASYNC set, turns a write into SIGKILL for the
// victim. Landlock scopes signals only from ABI 6 on; on Debian 12's kernel
// (ABI 2) only the filter stands in the way, so it must refuse each step
// itself, whatever this machine's kernel would also stop.
std::string signalThroughAPipe(pid_t target) {
    int pipe[2];
    if (::pipe(pipe) != 0) {
        return "pipe";
    }
    f_owner_ex owner{F_OWNER_PID, target};
    // One step after the other: the operands of + are not sequenced.
    std::string result = errorName(fcntl(pipe[0], F_SETOWN, target));
    result += " " + errorName(fcntl(pipe[0], F_SETOWN_EX, &owner));
    result += " " + errorName(fcntl(pipe[0], F_SETSIG, SIGKILL));
    result += " " + errorName(fcntl(pipe[0], F_SETFL, O_ASYNC | O_NONBLOCK));
    result += " " + errorName(static_cast<int>(write(pipe[1], "x", 1)));
    close(pipe[0]);
    close(pipe[1]);
    return result;
}

TEST(Sandbox, StopsSignallingAnotherProcessThroughADescriptorsOwner) {
    {
        // Unconfined, the route works: the test sees what the filter stops.
        Victim victim;
        EXPECT_EQ(runChild(
                      {}, [&] { return signalThroughAPipe(victim.pid()); }, false)
                      .result,
                  "ok ok ok ok ok");
        EXPECT_FALSE(victim.alive());
    }
    Victim victim;
    const pid_t group = getpgrp();
    const Outcome outcome = runChild({}, [&] {
        return signalThroughAPipe(victim.pid()) + " | " + signalThroughAPipe(-group) + " | " +
               signalThroughAPipe(getppid());
    });
    if (!outcome.systemCallFilter()) {
        GTEST_SKIP() << outcome.layers;
    }
    const std::string refused = "EPERM EPERM EPERM EPERM ok";
    EXPECT_EQ(outcome.result, refused + " | " + refused + " | " + refused);
    EXPECT_TRUE(victim.alive());
}

TEST(Sandbox, AllowsOnlyTheFcntlAndLimitCallsTheLibraryNeeds) {
    TempDirectory dir;
    testing::writeFile(dir / "a.rar", "archive");
    handOver(dir.path());
    Victim other;
    const Outcome outcome = runChild({dir / "a.rar"}, [&] {
        const int fd = open((dir / "a.rar").c_str(), O_RDONLY);
        rlimit limit{};
        flock lock{};
        lock.l_type = F_RDLCK;
        // One call after the other, each errno read at once.
        std::string result = errorName(fcntl(fd, F_GETFL));
        result += " " + errorName(fcntl(fd, F_SETFL, O_NONBLOCK));
        result += " " + errorName(fcntl(fd, F_SETFD, FD_CLOEXEC));
        result += " " + errorName(fcntl(fd, F_DUPFD_CLOEXEC, 20));
        result += " " + errorName(static_cast<int>(prlimit(0, RLIMIT_NOFILE, nullptr, &limit)));
        result += " |";
        result += " " + errorName(fcntl(fd, F_SETLEASE, F_RDLCK));
        result += " " + errorName(fcntl(fd, F_SETLK, &lock));
        result +=
            " " + errorName(static_cast<int>(prlimit(other.pid(), RLIMIT_NOFILE, nullptr, &limit)));
        result += " " + errorName(open((dir / "a.rar").c_str(), O_PATH));
        result += " " + errorName(open("/etc", O_PATH));
        return result;
    });
    if (!outcome.systemCallFilter()) {
        GTEST_SKIP() << outcome.layers;
    }
    EXPECT_EQ(outcome.result, "ok ok ok ok ok | EPERM EPERM EPERM EPERM EPERM");
}

// Root is exempt from the thread limit; the children run as the test user
// (or as the unprivileged user running the tests).
TEST(Sandbox, StopsAThreadBombNearTheHeadroom) {
    const Outcome outcome = runChild({}, [] {
        pthread_attr_t attributes;
        pthread_attr_init(&attributes);
        pthread_attr_setstacksize(&attributes, 256 * 1024);
        int started = 0;
        for (; started < 2000; ++started) {
            pthread_t thread;
            const auto wait = [](void*) -> void* {
                for (;;) {
                    pause();
                }
            };
            if (pthread_create(&thread, &attributes, wait, nullptr) != 0) {
                break;
            }
        }
        return std::to_string(started);
    });
    // The user's other processes may end meanwhile and give some room back.
    EXPECT_GE(std::stoi(outcome.result), 16) << outcome.layers;
    EXPECT_LE(std::stoi(outcome.result), static_cast<int>(2 * kThreadHeadroom)) << outcome.layers;
}

// The sanitizers' own work must survive the filter: an error report would
// start its symbolizer, and the leak check at exit traces the process from a
// cloned task, both of which the filter ends with SIGSYS.
TEST(Sandbox, LetsTheSanitizerReportErrorsAndCheckLeaks) {
    if (!kAddressSanitizer) {
        GTEST_SKIP() << "needs AddressSanitizer";
    }
    int errors[2];
    ASSERT_EQ(pipe(errors), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(errors[1], STDERR_FILENO);
        confine({});
        volatile char* bytes = static_cast<char*>(malloc(8));
        bytes[8] = 1;
        _exit(0);
    }
    close(errors[1]);
    std::string report;
    char buffer[4096];
    for (ssize_t n; (n = read(errors[0], buffer, sizeof buffer)) > 0;) {
        report.append(buffer, n);
    }
    close(errors[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_FALSE(WIFSIGNALED(status) && WTERMSIG(status) == SIGSYS);
    EXPECT_NE(report.find("heap-buffer-overflow"), std::string::npos) << report;
    EXPECT_NE(report.find("#0 0x"), std::string::npos) << report;
    EXPECT_NE(report.find("SUMMARY: AddressSanitizer: heap-buffer-overflow"), std::string::npos)
        << report;

    const pid_t exiting = fork();
    if (exiting == 0) {
        confine({});
        std::exit(0);
    }
    waitpid(exiting, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace tovani::Sandbox
