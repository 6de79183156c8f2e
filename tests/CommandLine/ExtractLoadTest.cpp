// ostrel-extract handed some hundreds of archives at once, with repeats and
// every volume of a set among them: each job is extracted exactly once, none
// is lost, and memory does not grow with the number of archives.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "CommandLine/ToolProcess.h"
#include "support/RarTool.h"
#include "support/RarWriter.h"
#include "support/TempDirectory.h"

namespace tovani::testing {
namespace {

namespace fs = std::filesystem;

std::multiset<std::string> linesOf(const std::string& text) {
    std::multiset<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.insert(line);
    return lines;
}

class ExtractLoadTest : public ::testing::Test {
protected:
    static constexpr int distinct = 250;

    void SetUp() override {
        for (int i = 0; i < distinct; ++i) {
            const std::string n = std::to_string(i);
            writeRar5(dir / ("arc" + n + ".rar"),
                      {StoredEntry::file("f" + n + ".txt", std::string(1000 + i, 'a' + i % 26))});
        }
        makeTree(dir / "src", {{"movie.bin", std::string(60000, 'm')}});
        volumes = volumeFiles(
            rar(dir / "src", (dir / "movie.rar").string(), {"-m0", "-v20k"}, {"movie.bin"}));
        fs::remove_all(dir / "src");
    }

    // The set's volumes first, then count archives (one in seven twice over,
    // written differently), then the set's volumes again.
    std::vector<std::string> argumentsFor(int count) const {
        std::vector<std::string> arguments = {"--quiet", "--destination"};
        arguments.push_back("out" + std::to_string(count));
        arguments.push_back("movie.part2.rar");
        for (int i = 0; i < count; ++i) {
            const std::string name = "arc" + std::to_string(i) + ".rar";
            arguments.push_back(name);
            if (i % 7 == 3)
                arguments.push_back("./" + name);
            if (i % 7 == 5)
                arguments.push_back((dir / name).string());
        }
        for (const fs::path& volume : volumes)
            arguments.push_back(volume.filename().string());
        return arguments;
    }

    // Runs one invocation and checks every job came out exactly once.
    ToolProcess::Result extractAll(int count) {
        const fs::path out = dir / ("out" + std::to_string(count));
        fs::create_directory(out);
        std::vector<std::string> arguments = argumentsFor(count);
        ToolProcess::Result run = ToolProcess::run(arguments, dir.path());
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.err, "");

        std::multiset<std::string> expectedLines = {(out / "movie.bin").string()};
        std::set<std::string> expectedNames = {"movie.bin"};
        for (int i = 0; i < count; ++i) {
            const std::string file = "f" + std::to_string(i) + ".txt";
            expectedLines.insert((out / file).string());
            expectedNames.insert(file);
        }
        EXPECT_EQ(linesOf(run.out), expectedLines);
        EXPECT_EQ(directoryNames(out), expectedNames);
        EXPECT_EQ(readFile(out / ("f" + std::to_string(count - 1) + ".txt")),
                  std::string(1000 + count - 1, 'a' + (count - 1) % 26));
        return run;
    }

    TempDirectory dir;
    std::vector<fs::path> volumes;
};

TEST_F(ExtractLoadTest, HundredsOfArchivesAreEachExtractedOnceInFlatMemory) {
    // 3 options, then 325 archive arguments for 251 jobs.
    ASSERT_EQ(argumentsFor(distinct).size(), 3u + 325u);
    const ToolProcess::Result few = extractAll(30);
    const ToolProcess::Result many = extractAll(distinct);
    std::cerr << "peak memory: " << few.peakKiB << " KiB for 30 archives, " << many.peakKiB
              << " KiB for " << distinct << "\n";
    // Nothing is kept per archive: the peak stays within a small margin.
    // AddressSanitizer holds freed memory back on purpose, so only a plain
    // build can tell.
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LE(many.peakKiB, few.peakKiB + 2048);
#endif
}

}  // namespace
}  // namespace tovani::testing
