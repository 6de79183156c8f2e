// The engine's decoder process: faults of the decoder (a crash, an early end,
// a broken answer) fail the call as a damaged archive and never end this
// process; every decoder is reaped; the password never reaches its command
// line or environment; it reads no volume outside the resolved set.
#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TovaniCore/RarEngine.h"
#include "support/RarRecordingSink.h"
#include "support/RarTool.h"
#include "support/RarWriter.h"
#include "support/TempDirectory.h"

namespace tovani {
namespace {

namespace fs = std::filesystem;
using testing::RecordingSink;
using testing::StoredEntry;
using testing::TempDirectory;

std::string noise(size_t size, std::uint32_t state = 12345) {
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        state = state * 1103515245 + 12345;
        byte = static_cast<char>(state >> 16);
    }
    return bytes;
}

// The processes whose parent is this one, zombies included.
std::vector<pid_t> children() {
    std::vector<pid_t> found;
    DIR* proc = opendir("/proc");
    while (dirent* item = readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(item->d_name));
        if (pid <= 0) {
            continue;
        }
        std::ifstream stat("/proc/" + std::string(item->d_name) + "/stat");
        std::string line;
        std::getline(stat, line);
        // pid (comm) state ppid ...; comm may hold spaces, so start after ")".
        const std::size_t close = line.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        std::istringstream rest(line.substr(close + 1));
        std::string state;
        pid_t parent = 0;
        rest >> state >> parent;
        if (parent == getpid()) {
            found.push_back(pid);
        }
    }
    closedir(proc);
    return found;
}

// Sets the test decoder's fault switch for one scope.
class DecoderFault {
public:
    explicit DecoderFault(const char* fault) { setenv("OSTREL_DECODER_TEST_FAULT", fault, 1); }
    ~DecoderFault() { unsetenv("OSTREL_DECODER_TEST_FAULT"); }
};

const RarEngine& faultyEngine() {
    static const RarEngine engine(OSTREL_DECODER_TEST_PATH);
    return engine;
}

template <typename Call>
std::optional<ExtractionError> errorOf(Call call) {
    try {
        call();
    } catch (const ExtractionError& error) {
        return error;
    }
    return std::nullopt;
}

class RarEngineDecoder : public ::testing::Test {
protected:
    void SetUp() override {
        testing::makeTree(dir.path(),
                          {{"a.txt", "alpha"}, {"big.bin", noise(3'000'000)}, {"c.txt", "gamma"}});
        archive = testing::rar(dir.path(), "t.rar", {"-m1"}, {"a.txt", "big.bin", "c.txt"});
    }
    void TearDown() override { EXPECT_EQ(children(), std::vector<pid_t>{}); }

    TempDirectory dir;
    fs::path archive;
};

TEST_F(RarEngineDecoder, DecoderFaultsMidListingFailAsDamaged) {
    for (const char* fault : {"crash-at-entry:2", "close-at-entry:2", "garbage-at-entry:2"}) {
        DecoderFault set(fault);
        EXPECT_EQ(errorOf([&] { faultyEngine().list(archive, std::nullopt); }),
                  ExtractionError::damaged(std::nullopt))
            << fault;
    }
    // Without a fault the same decoder lists the archive.
    EXPECT_EQ(faultyEngine().list(archive, std::nullopt).entries.size(), 3u);
}

TEST_F(RarEngineDecoder, DecoderKilledMidDataFailsAsDamagedWithoutFinish) {
    DecoderFault set("crash-at-data:2");
    RecordingSink sink;
    EXPECT_EQ(errorOf([&] { faultyEngine().extract(archive, std::nullopt, sink); }),
              ExtractionError::damaged(std::nullopt));
    EXPECT_EQ(sink.events, (std::vector<std::string>{"begin a.txt", "write a.txt", "finish a.txt",
                                                     "begin big.bin", "write big.bin"}));
}

// A cancellation arrives as the sink's error while the decoder is busy; the
// error passes through unchanged and the decoder is killed and reaped
// (TearDown checks that no child is left).
TEST_F(RarEngineDecoder, SinkErrorStopsTheDecoder) {
    RecordingSink sink;
    sink.onWrite = [](std::span<const std::byte>) { throw ExtractionError::cancelled(); };
    EXPECT_EQ(errorOf([&] { RarEngine().extract(archive, std::nullopt, sink); }),
              ExtractionError::cancelled());
}

TEST_F(RarEngineDecoder, CrashRegressionsFailAsDamaged) {
    for (const auto& input : fs::directory_iterator(OSTREL_FUZZ_REGRESSIONS)) {
        const fs::path copy = dir / "in.rar";
        fs::copy_file(input.path(), copy, fs::copy_options::overwrite_existing);
        EXPECT_EQ(errorOf([&] { RarEngine().list(copy, std::nullopt); }),
                  ExtractionError::damaged(std::nullopt))
            << input.path();
        RecordingSink sink;
        EXPECT_EQ(errorOf([&] { RarEngine().extract(copy, "password", sink); }),
                  ExtractionError::damaged(std::nullopt))
            << input.path();
    }
}

TEST_F(RarEngineDecoder, PasswordNeverOnTheDecodersCommandLineOrEnvironment) {
    const std::string password = "s3cret-Pass-7a1";
    const fs::path locked =
        testing::rar(dir.path(), "locked.rar", {"-m0", "-p" + password}, {"big.bin", "a.txt"});
    RecordingSink sink;
    std::string seen;
    // While the sink holds the first entry the decoder is alive, blocked on
    // the full socket.
    sink.onBegin = [&](const ArchiveEntry&) {
        for (pid_t pid : children()) {
            for (const char* part : {"cmdline", "environ"}) {
                std::ifstream file("/proc/" + std::to_string(pid) + "/" + part);
                seen += std::string(std::istreambuf_iterator<char>(file), {});
                seen += '\n';
            }
        }
        return true;
    };
    RarEngine().extract(locked, password, sink);
    EXPECT_NE(seen.find("ostrel-decoder"), std::string::npos);
    EXPECT_EQ(seen.find(password), std::string::npos);
    EXPECT_EQ(sink.data["a.txt"], "alpha");
}

// Named as a numbered set but built with old-style names, the library would
// go on to y.part1.r00; the resolved set of y.part1.rar holds no such volume.
// The file system rules keep the library from opening it, and where the
// kernel has none the decoder refuses the volume change: the same error.
TEST_F(RarEngineDecoder, VolumeOutsideTheResolvedSetIsRefused) {
    const std::vector<fs::path> written = testing::writeRar4Volumes(
        dir / "x.rar", {StoredEntry::file("big", noise(5000)), StoredEntry::file("s", "s")}, 2000);
    ASSERT_EQ(written.size(), 3u);
    fs::rename(written[0], dir / "y.part1.rar");
    fs::rename(written[1], dir / "y.part1.r00");
    fs::rename(written[2], dir / "y.part1.r01");
    EXPECT_EQ(errorOf([&] { RarEngine().list(dir / "y.part1.rar", std::nullopt); }),
              ExtractionError::volumeMissing("y.part1.r00"));
}

}  // namespace
}  // namespace tovani
