// ostrel-extract picks the engine by what a file holds, never by its name
// alone, and names the parts of every kind of set.
#include <gtest/gtest.h>
#include <QString>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "CommandLine/ToolProcess.h"
#include "Messages/ErrorMessage.h"
#include "TovaniCore/ExtractionError.h"
#include "support/PatternedBytes.h"
#include "support/RarTool.h"
#include "support/TempDirectory.h"

namespace tovani::testing {
namespace {

namespace fs = std::filesystem;
using E = ExtractionError;

std::string failureLine(const std::string& argument, const E& error,
                        const std::string& archiveName) {
    const ErrorMessage message = errorMessage(error, QString::fromStdString(archiveName));
    return argument + ": " + (message.title + " " + message.detail).toStdString() + "\n";
}

// A zip of one file, by python3's zipfile.
std::string zipBytes(const fs::path& directory) {
    const ToolRun run = runTool(directory, "python3",
                                {"-c",
                                 "import zipfile\n"
                                 "with zipfile.ZipFile('.made.zip', 'w') as z:\n"
                                 "    z.writestr('a.txt', 'a' * 3000)\n"});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    const std::string bytes = readFile(directory / ".made.zip");
    fs::remove(directory / ".made.zip");
    return bytes;
}

TEST(ExtractFormats, EachPathThroughTheChooser) {
    struct Case {
        std::string label;
        std::function<void(const fs::path&)> setUp;
        std::vector<std::string> arguments;
        int exitCode;
        // Relative to the directory: the output lines, and the files after.
        std::vector<std::string> out;
        std::function<std::string(const fs::path&)> err;
        std::set<std::string> after;
    };
    const E spanned = E::volumeUnreadable("span.z01", E::VolumeUnreadable::Reason::unsupportedSet);
    const std::vector<Case> cases = {
        {"a rar named as a zip opens as the rar it is",
         [](const fs::path& dir) {
             makeTree(dir / "src", {{"notes.txt", "hello"}});
             fs::rename(rar(dir / "src", (dir / "notes.rar").string(), {}, {"notes.txt"}),
                        dir / "notes.zip");
             fs::remove_all(dir / "src");
         },
         {"notes.zip"},
         0,
         {"notes.txt"},
         [](const fs::path&) { return std::string(); },
         {"notes.zip", "notes.txt"}},
        {"no archive, whatever its name",
         [](const fs::path& dir) {
             for (const char* name : {"a.zip", "b.7z", "c.tar.gz", "d.rar"}) {
                 writeFile(dir / name, "plain words");
             }
         },
         {"a.zip", "b.7z", "c.tar.gz", "d.rar"},
         1,
         {},
         [](const fs::path&) {
             return failureLine("a.zip", E::notAnArchive(), "a.zip") +
                    failureLine("b.7z", E::notAnArchive(), "b.7z") +
                    failureLine("c.tar.gz", E::notAnArchive(), "c.tar.gz") +
                    failureLine("d.rar", E::notAnArchive(), "d.rar");
         },
         {"a.zip", "b.7z", "c.tar.gz", "d.rar"}},
        {"a spanned zip is refused once, naming its first segment",
         [](const fs::path& dir) {
             const std::string zip = zipBytes(dir);
             writeFile(dir / "span.z01", "PK\x07\x08" + zip.substr(0, 100));
             writeFile(dir / "span.z02", zip.substr(100, 100));
             writeFile(dir / "span.zip", zip.substr(200));
         },
         {"span.zip", "span.z02", "span.z01"},
         1,
         {},
         [spanned](const fs::path&) { return failureLine("span.zip", spanned, "span.z01"); },
         {"span.z01", "span.z02", "span.zip"}},
        {"a later part of a split set without its first",
         [](const fs::path& dir) { writeFile(dir / "s.7z.002", patterned(3000, 6)); },
         {"s.7z.002"},
         1,
         {},
         [](const fs::path&) {
             return failureLine("s.7z.002", E::volumeMissing("s.7z.001"), "s.7z.001");
         },
         {"s.7z.002"}},
    };
    for (const Case& c : cases) {
        TempDirectory dir;
        c.setUp(dir.path());
        const ToolProcess::Result run = ToolProcess::run(c.arguments, dir.path());
        std::string out;
        for (const std::string& line : c.out) {
            out += (dir / line).string() + "\n";
        }
        EXPECT_EQ(run.exitCode, c.exitCode) << c.label;
        EXPECT_EQ(run.out, out) << c.label;
        EXPECT_EQ(run.err, c.err(dir.path())) << c.label;
        EXPECT_EQ(directoryNames(dir.path()), c.after) << c.label;
    }
}

}  // namespace
}  // namespace tovani::testing
