// A decoder taken over by an archive speaks the real protocol and lies: it
// names the user's files as volumes it read, sends paths and data beyond
// what it declared, values the protocol does not have, escapes for the
// user's terminal and a thread bomb. Each attack ends with the job failed or
// harmless, and the user's files byte for byte as they were.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "DecoderHelper/Sandbox.h"
#include "TovaniCore/DecoderProtocol.h"
#include "TovaniCore/Extractor.h"
#include "TovaniCore/RarEngine.h"
#include "support/OtherUser.h"
#include "support/RarRecordingSink.h"
#include "support/RarTool.h"
#include "support/RarWriter.h"
#include "support/TempDirectory.h"

namespace tovani {
namespace {

namespace fs = std::filesystem;
using testing::StoredEntry;

// Sets the decoder's mode for one scope.
class Mode {
public:
    explicit Mode(const std::string& mode) { setenv("OSTREL_DECODER_TEST_FAULT", mode.c_str(), 1); }
    ~Mode() { unsetenv("OSTREL_DECODER_TEST_FAULT"); }
    Mode(const Mode&) = delete;
    Mode& operator=(const Mode&) = delete;
};

using Result = std::variant<ExtractionResult, ExtractionError>;

Result extractWith(const fs::path& decoder, const fs::path& archive) {
    try {
        return Extractor(std::make_shared<RarEngine>(decoder))
            .extract(archive, ExtractionOptions{}, ExtractionHandlers{});
    } catch (const ExtractionError& error) {
        return error;
    }
}

std::string describe(const Result& result) {
    if (const auto* error = std::get_if<ExtractionError>(&result)) {
        return error->what();
    }
    return "output " + std::get<ExtractionResult>(result).output().filename().string();
}

// Every file below root with its contents; folders end with "/".
std::map<std::string, std::string> snapshot(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        const std::string name = fs::relative(item.path(), root).string();
        if (item.is_directory()) {
            files[name + "/"] = "";
        } else {
            files[name] = testing::readFile(item.path());
        }
    }
    return files;
}

class HostileDecoder : public ::testing::Test {
protected:
    void SetUp() override {
        testing::makeTree(dir.path(),
                          {{"Documents/thesis.odt", "my thesis"}, {".ssh/id_ed25519", "my key"}});
        testing::writeRar5(dir / "a.rar", {StoredEntry::file("a.txt", "alpha")});
        before = snapshot(dir.path());
    }

    // Runs the hostile decoder in the given mode through a whole extraction.
    Result attack(const std::string& mode) {
        Mode set(mode);
        return extractWith(OSTREL_HOSTILE_DECODER_PATH, dir / "a.rar");
    }

    testing::TempDirectory dir;
    std::map<std::string, std::string> before;
};

TEST_F(HostileDecoder, SingleCompressedFileTakesTheNameTheEngineGivesIt) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"raw:one", "output a 2.rar"},  // beside the archive it is named after
        {"raw:two", ExtractionError::damaged(std::nullopt).what()},
        {"raw:folder", ExtractionError::damaged(std::nullopt).what()},
    };
    for (const auto& [mode, expected] : cases) {
        const Result result = attack(mode);
        EXPECT_EQ(describe(result), expected) << mode;
        if (std::holds_alternative<ExtractionResult>(result)) {
            EXPECT_EQ(testing::readFile(std::get<ExtractionResult>(result).output()), "alpha");
            fs::remove(std::get<ExtractionResult>(result).output());
        }
    }
    const std::map<std::string, std::string> after = snapshot(dir.path());
    EXPECT_EQ(after.size(), before.size());
    EXPECT_EQ(after.at(".ssh/id_ed25519"), "my key");
}

TEST_F(HostileDecoder, NamingTheUsersFilesAsVolumesFailsTheJobAndTrashesNothing) {
    for (const fs::path& foreign : {dir / "Documents/thesis.odt", dir / ".ssh/id_ed25519",
                                    dir / "Documents", dir / "a.rar", fs::path("/etc/passwd")}) {
        const Result result = attack("foreign-volume:" + foreign.string());
        EXPECT_EQ(describe(result), ExtractionError::damaged(std::nullopt).what()) << foreign;
        EXPECT_EQ(snapshot(dir.path()), before);
    }
}

// A kernel without a layer is no reason to refuse, but the result says so;
// this machine's kernel has them all, so the real decoder reports none (but
// the address-space limit, which a sanitizer's shadow memory rules out).
TEST_F(HostileDecoder, ALayerTheKernelLacksIsReportedWithTheResult) {
    const Result lacking = attack("absent-layers");
    ASSERT_TRUE(std::holds_alternative<ExtractionResult>(lacking)) << describe(lacking);
    EXPECT_EQ(std::get<ExtractionResult>(lacking).missingConfinement().describe(),
              "file-system rules (Landlock), system-call filter (seccomp), address-space limit");
    fs::remove(dir / "a.txt");
    const Result real = extractWith(OSTREL_DECODER_TEST_PATH, dir / "a.rar");
    ASSERT_TRUE(std::holds_alternative<ExtractionResult>(real)) << describe(real);
    MissingConfinement missing = std::get<ExtractionResult>(real).missingConfinement();
#if defined(__SANITIZE_ADDRESS__)
    missing.addressSpaceLimit = false;
#endif
    EXPECT_FALSE(missing.any());
}

// The decoder's list can only pick from the set resolved for the job.
TEST_F(HostileDecoder, AVolumeOfTheResolvedSetIsTakenAsTheSetsOwnPath) {
    testing::writeFile(dir / "x.part1.rar", testing::readFile(dir / "a.rar"));
    testing::writeFile(dir / "x.part2.rar", "second part");
    Mode set("foreign-volume:" + (dir / "x.part2.rar").string());
    const Result result = extractWith(OSTREL_HOSTILE_DECODER_PATH, dir / "x.part1.rar");
    ASSERT_TRUE(std::holds_alternative<ExtractionResult>(result)) << describe(result);
    EXPECT_EQ(std::get<ExtractionResult>(result).archiveFiles(),
              (std::vector<fs::path>{dir / "x.part1.rar", dir / "x.part2.rar"}));
    EXPECT_EQ(testing::readFile(dir / "a.txt"), "alpha");
}

TEST_F(HostileDecoder, APathOfAHundredThousandLevelsFailsBeforeAnyFolderIsMade) {
    EXPECT_EQ(describe(attack("deep-path:100000")), ExtractionError::damaged(std::nullopt).what());
    EXPECT_EQ(snapshot(dir.path()), before);
}

TEST_F(HostileDecoder, DataBeyondOrShortOfTheDeclaredSizeFailsTheEntry) {
    for (const char* mode : {"oversized", "undersized"}) {
        EXPECT_EQ(describe(attack(mode)), ExtractionError::damaged("a.txt").what()) << mode;
        EXPECT_EQ(snapshot(dir.path()), before) << mode;
    }
}

TEST_F(HostileDecoder, ValuesTheProtocolDoesNotHaveFailAsDamaged) {
    for (const char* mode : {"unknown-kind", "unknown-status", "bool-byte"}) {
        EXPECT_EQ(describe(attack(mode)), ExtractionError::damaged(std::nullopt).what()) << mode;
        EXPECT_EQ(snapshot(dir.path()), before) << mode;
    }
}

// "Needs N GB of memory" only for a dictionary larger than this machine's
// memory: the decoder has room for any other, so one it claims to lack is
// no reason to send the user shopping.
TEST_F(HostileDecoder, AMemoryShortageNamesOnlyASizeTheMachineLacks) {
    const struct {
        std::string bytes;
        ExtractionError expected;
    } cases[] = {
        {"1125899906842624", ExtractionError::outOfMemory(1ULL << 50)},
        {"4096", ExtractionError::outOfMemory()},
        {"0", ExtractionError::outOfMemory()},
    };
    for (const auto& [bytes, expected] : cases) {
        EXPECT_EQ(describe(attack("out-of-memory:" + bytes)), expected.what()) << bytes;
        EXPECT_EQ(snapshot(dir.path()), before) << bytes;
    }
}

TEST_F(HostileDecoder, EscapesOnItsStandardErrorNeverReachTheUsersTerminal) {
    const fs::path captured = dir / "stderr";
    const int saved = dup(STDERR_FILENO);
    const int file = open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(file, 0);
    dup2(file, STDERR_FILENO);
    close(file);
    const Result result = attack("stderr-escapes");
    dup2(saved, STDERR_FILENO);
    close(saved);
    EXPECT_EQ(describe(result), "output a.txt");
    EXPECT_EQ(testing::readFile(captured), "");
    EXPECT_EQ(testing::readFile(dir / "a.txt"), "alpha");
}

// Inside the real confinement, as an ordinary user (root is exempt from the
// thread limit): the bomb stops near the headroom, while the library's own
// pools (16 threads at most) still fit. The user's other programs may end
// tasks meanwhile and give some room back, hence the margin.
TEST_F(HostileDecoder, AThreadBombInsideTheSandboxStopsAtTheLimit) {
    const testing::OtherUser& user = testing::OtherUser::get();
    ::chmod(dir.path().c_str(), 0755);
    ::chmod((dir / "a.rar").c_str(), 0644);
    Mode set("thread-bomb:2000");
    const std::string said = user.run([&] {
        try {
            const ArchiveListing listing =
                RarEngine(OSTREL_HOSTILE_DECODER_PATH).list(dir / "a.rar", std::nullopt);
            return listing.entries.at(0).path;
        } catch (const std::exception& error) {
            return std::string(error.what());
        }
    });
    ASSERT_EQ(said.rfind("threads-", 0), 0u) << said;
    const int started = std::stoi(said.substr(8));
    EXPECT_GE(started, 16);
    EXPECT_LE(started, static_cast<int>(2 * Sandbox::kThreadHeadroom));
}

TEST_F(HostileDecoder, ADecoderThatCannotConfineItselfDecodesNothing) {
    Mode set("confinement-fails");
    EXPECT_EQ(describe(extractWith(OSTREL_DECODER_TEST_PATH, dir / "a.rar")),
              ExtractionError::confinementFailed().what());
    EXPECT_EQ(snapshot(dir.path()), before);
}

// The processes whose parent is pid.
std::vector<pid_t> childrenOf(pid_t parent) {
    std::vector<pid_t> found;
    for (const auto& item : fs::directory_iterator("/proc")) {
        const pid_t pid = static_cast<pid_t>(std::atoi(item.path().filename().c_str()));
        std::ifstream stat(item.path() / "stat");
        std::string line;
        if (pid <= 0 || !std::getline(stat, line)) {
            continue;
        }
        std::istringstream rest(line.substr(line.rfind(')') + 1));
        std::string state;
        pid_t ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent) {
            found.push_back(pid);
        }
    }
    return found;
}

// Running, as opposed to gone or a zombie nobody reaps.
bool running(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) {
        return false;
    }
    return line.substr(line.rfind(')') + 2, 1) != "Z";
}

std::string environmentOf(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/environ");
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// The real decoder, blocked on a full channel while the engine's process
// holds its first entry; that process then dies.
TEST_F(HostileDecoder, TheDecoderSeesOnlyTheLocaleAndEndsWithItsParent) {
    testing::makeTree(dir / "big", {{"big.bin", std::string(8'000'000, 'b')}});
    const fs::path archive = testing::rar(dir / "big", "big.rar", {"-m0"}, {"big.bin"});
    setenv("OSTREL_TEST_SECRET", "hunter2", 1);
    setenv("LC_TIME", "C.UTF-8", 1);
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t engine = fork();
    if (engine == 0) {
        testing::RecordingSink sink;
        sink.onBegin = [&](const ArchiveEntry&) {
            (void)!write(ready[1], "r", 1);
            for (;;) {
                pause();
            }
            return true;
        };
        RarEngine().extract(archive, std::nullopt, sink);
        _exit(1);
    }
    unsetenv("OSTREL_TEST_SECRET");
    unsetenv("LC_TIME");
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    close(ready[1]);
    const std::vector<pid_t> decoders = childrenOf(engine);
    ASSERT_EQ(decoders.size(), 1u);
    const std::string environment = environmentOf(decoders[0]);
    EXPECT_NE(environment.find("LC_TIME=C.UTF-8"), std::string::npos) << environment;
    EXPECT_EQ(environment.find("OSTREL_TEST_SECRET"), std::string::npos) << environment;
    EXPECT_EQ(environment.find("PATH="), std::string::npos) << environment;
    EXPECT_EQ(environment.find("HOME="), std::string::npos) << environment;

    kill(engine, SIGKILL);
    waitpid(engine, nullptr, 0);
    const auto start = std::chrono::steady_clock::now();
    while (running(decoders[0]) &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(running(decoders[0]));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

// The data ring is shared memory the decoder writes: where a chunk lies and
// how long it is come from the socket and are held to the chunk's slot, and
// the ring keeps the size the engine gave it.
TEST_F(HostileDecoder, AChunkOutsideItsSlotOfTheRingFailsTheJob) {
    constexpr std::uint32_t slot = DecoderProtocol::kMaxChunk;
    const std::uint32_t ringSize = slot * DecoderProtocol::kRingSlots;
    const std::pair<std::uint32_t, std::uint32_t> places[] = {
        {ringSize, 20000}, {0xFFFFFFFFu, 20000}, {ringSize - 1, 20000}, {slot, 20000},
        {7, 20000},        {0, slot + 1},        {0, 0xFFFFFFFFu},      {0, 0},
    };
    for (const auto& [offset, length] : places) {
        const std::string mode =
            "ring-place:" + std::to_string(offset) + ":" + std::to_string(length);
        EXPECT_EQ(describe(attack(mode)), ExtractionError::damaged(std::nullopt).what()) << mode;
        EXPECT_EQ(snapshot(dir.path()), before) << mode;
    }
    // The same file in its slot goes through: the refusals are the place's.
    EXPECT_EQ(describe(attack("ring-place:0:20000")), "output a.txt");
    EXPECT_EQ(testing::readFile(dir / "a.txt"), std::string(20000, 'r'));
}

// A ring it could shrink would fault the engine's reads of it.
TEST_F(HostileDecoder, TheRingCannotBeResizedUnderTheEngine) {
    EXPECT_EQ(describe(attack("ring-resize")), "output a.txt");
    EXPECT_EQ(testing::readFile(dir / "a.txt"), std::string(20000, 'r'));
    before["a.txt"] = std::string(20000, 'r');
    EXPECT_EQ(snapshot(dir.path()), before);
}

TEST_F(HostileDecoder, RewritingTheRingAfterItsFrameChangesNoLength) {
    EXPECT_EQ(describe(attack("ring-rewrite")), "output a.txt");
    const std::string written = testing::readFile(dir / "a.txt");
    EXPECT_EQ(written.size(), 20000u);
    EXPECT_EQ(written.find_first_not_of(std::string("rw\xFF", 3)), std::string::npos);
    before.erase("a.txt");
    std::map<std::string, std::string> after = snapshot(dir.path());
    after.erase("a.txt");
    EXPECT_EQ(after, before);
}

}  // namespace
}  // namespace tovani
