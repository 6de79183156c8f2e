// ostrel-extract as a user meets it: exit status, output paths on standard
// output, one "ARCHIVE: TITLE DETAIL" line per failure on standard error.
#include <gtest/gtest.h>
#include <QString>

#include "CommandLine/ToolProcess.h"
#include "Messages/ErrorMessage.h"
#include "TovaniCore/ExtractionError.h"
#include "support/RarTool.h"
#include "support/RarWriter.h"
#include "support/TempDirectory.h"
#include "support/Tmpfs.h"

namespace tovani::testing {
namespace {

namespace fs = std::filesystem;

// The failure line the tool prints for an archive argument.
std::string failureLine(const std::string& argument, const ExtractionError& error,
                        const std::string& archiveName) {
    const ErrorMessage message = errorMessage(error, QString::fromStdString(archiveName));
    return argument + ": " + (message.title + " " + message.detail).toStdString() + "\n";
}

class ExtractCommandTest : public ::testing::Test {
protected:
    ToolProcess::Result run(const std::vector<std::string>& arguments) {
        return ToolProcess::run(arguments, dir.path());
    }
    std::string path(const std::string& relative) const { return (dir / relative).string(); }

    TempDirectory dir;
};

TEST_F(ExtractCommandTest, SuccessPrintsTheOutputPathAndExitsZero) {
    writeRar5(dir / "notes.rar", {StoredEntry::file("notes.txt", "hello")});
    ToolProcess::Result run = this->run({"notes.rar"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, path("notes.txt") + "\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(readFile(dir / "notes.txt"), "hello");
}

TEST_F(ExtractCommandTest, EachFailureIsOneLineAndTheOtherArchivesStillRun) {
    writeFile(dir / "fake.rar", "not an archive");
    writeRar5(dir / "good.rar", {StoredEntry::file("good.txt", "g")});
    StoredEntry bad = StoredEntry::file("bad.txt", "corrupted");
    bad.wrongCrc = true;
    writeRar5(dir / "bad.rar", {bad});

    ToolProcess::Result run = this->run({"fake.rar", "good.rar", "gone.rar", path("bad.rar")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, path("good.txt") + "\n");
    EXPECT_EQ(run.err,
              "fake.rar: “fake.rar” is not a valid RAR archive. The file may be incomplete or in "
              "a different format.\n" +
                  failureLine("gone.rar", ExtractionError::cannotOpen(), "gone.rar") +
                  failureLine(path("bad.rar"), ExtractionError::damaged("bad.txt"), "bad.rar"));
    EXPECT_EQ(directoryNames(dir.path()),
              (std::set<std::string>{"fake.rar", "good.rar", "bad.rar", "good.txt"}));
}

TEST_F(ExtractCommandTest, UsageErrorsExitTwoAndExtractNothing) {
    writeRar5(dir / "a.rar", {StoredEntry::file("a.txt", "a")});
    const std::string usage =
        "usage: ostrel-extract [--always-create-folder] [--destination DIR]\n"
        "                      [--password-file FILE] [--quiet] [--verbose] ARCHIVE...\n";
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {}, {"--loud", "a.rar"}, {"--quiet"}, {"a.rar", "--destination"}}) {
        ToolProcess::Result run = this->run(arguments);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, usage);
    }
    for (const char* help : {"--help", "-h"}) {
        ToolProcess::Result asked = run({help, "a.rar"});
        EXPECT_EQ(asked.exitCode, 0);
        EXPECT_EQ(asked.out, usage);
        EXPECT_EQ(asked.err, "");
    }
    ToolProcess::Result unreadable = run({"--password-file", "missing.txt", "a.rar"});
    EXPECT_EQ(unreadable.exitCode, 2);
    EXPECT_EQ(unreadable.err, "ostrel-extract: cannot read missing.txt\n");
    EXPECT_EQ(directoryNames(dir.path()), std::set<std::string>{"a.rar"});
}

TEST_F(ExtractCommandTest, RepeatsAndVolumesOfOneSetAreExtractedOnce) {
    makeTree(dir / "src", {{"movie.bin", std::string(60000, 'm')}});
    fs::path first = rar(dir / "src", path("movie.rar"), {"-m0", "-v20k"}, {"movie.bin"});
    ASSERT_EQ(volumeFiles(first).size(), 3u);
    fs::remove_all(dir / "src");
    writeRar5(dir / "good.rar", {StoredEntry::file("good.txt", "g")});

    ToolProcess::Result run =
        this->run({"movie.part2.rar", "movie.part1.rar", path("movie.part3.rar"), "good.rar",
                   "./good.rar", "sub/../good.rar", "good.rar"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, path("movie.bin") + "\n" + path("good.txt") + "\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(readFile(dir / "movie.bin"), std::string(60000, 'm'));
}

TEST_F(ExtractCommandTest, ALaterVolumeWithoutTheFirstReportsThatPartMissing) {
    makeTree(dir / "src", {{"movie.bin", std::string(60000, 'm')}});
    fs::path first = rar(dir / "src", path("movie.rar"), {"-m0", "-v20k"}, {"movie.bin"});
    fs::remove_all(dir / "src");
    fs::remove(first);

    ToolProcess::Result run = this->run({"movie.part2.rar"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "movie.part2.rar: A part of “movie.part1.rar” is missing. “movie.part1.rar” was not "
              "found. Put all the parts in the same folder and try again.\n");
    EXPECT_EQ(directoryNames(dir.path()),
              (std::set<std::string>{"movie.part2.rar", "movie.part3.rar"}));
}

TEST_F(ExtractCommandTest, DestinationAndAlwaysCreateFolder) {
    writeRar5(dir / "one.rar", {StoredEntry::file("only.txt", "x")});
    fs::create_directory(dir / "out");
    ToolProcess::Result run =
        this->run({"--always-create-folder", "--destination", "out", "one.rar"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, path("out/one") + "\n");
    EXPECT_EQ(readFile(dir / "out/one/only.txt"), "x");
    EXPECT_EQ(directoryNames(dir.path()), (std::set<std::string>{"one.rar", "out"}));

    ToolProcess::Result missing = this->run({"--destination", "nowhere", "one.rar"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(missing.err,
              failureLine("one.rar", ExtractionError::destinationNotWritable(dir / "nowhere"),
                          "one.rar"));
}

TEST_F(ExtractCommandTest, PasswordFileAnswersTheFirstRequestOfEachArchive) {
    makeTree(dir / "src", {{"secret.txt", "classified"}, {"plan.txt", "hidden"}});
    rar(dir / "src", path("data.rar"), {"-pright"}, {"secret.txt"});
    rar(dir / "src", path("vault.rar"), {"-hpright"}, {"plan.txt"});
    fs::remove_all(dir / "src");
    writeFile(dir / "good.pw", "right\r\nsecond line is never used\n");
    writeFile(dir / "bad.pw", "wrong\n");

    ToolProcess::Result good = run({"--password-file", "good.pw", "data.rar", "vault.rar"});
    EXPECT_EQ(good.exitCode, 0);
    EXPECT_EQ(good.out, path("secret.txt") + "\n" + path("plan.txt") + "\n");
    EXPECT_EQ(good.err, "");
    fs::remove(dir / "secret.txt");
    fs::remove(dir / "plan.txt");

    // Without a terminal the retry after the wrong password goes unanswered:
    // the password given was wrong, not missing.
    ToolProcess::Result bad = run({"--password-file", "bad.pw", "data.rar", "vault.rar"});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_EQ(bad.out, "");
    EXPECT_EQ(bad.err,
              "data.rar: The password for “data.rar” is incorrect.\n"
              "vault.rar: The password for “vault.rar” is incorrect.\n");

    ToolProcess::Result none = run({"vault.rar"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_EQ(none.err, "vault.rar: “vault.rar” needs a password.\n");
    EXPECT_EQ(directoryNames(dir.path()),
              (std::set<std::string>{"data.rar", "vault.rar", "good.pw", "bad.pw"}));
}

TEST_F(ExtractCommandTest, DiskThatRunsOutOfSpaceMidwayIsNamedAsSuch) {
    // A file whose size the archive does not state passes the space check,
    // and writing it fills the disk.
    const fs::path small = dir / "small";
    Tmpfs tmpfs(small, "size=1m");
    if (!tmpfs.mounted())
        GTEST_SKIP() << "cannot mount here";
    StoredEntry big = StoredEntry::file("many/big.bin", std::string(2 << 20, 'b'));
    big.unknownSize = true;
    writeRar5(dir / "many.rar", {StoredEntry::file("many/small.txt", "x"), big});
    ToolProcess::Result run = this->run({"--destination", "small", "many.rar"});
    const std::set<std::string> left = directoryNames(small);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "many.rar: “many.rar” could not be extracted. The disk ran out of space during "
              "extraction. Nothing was extracted.\n");
    EXPECT_EQ(left, std::set<std::string>{});
}

TEST_F(ExtractCommandTest, RefusedLinksAreListedAndTheRestIsExtracted) {
    writeRar5(dir / "links.rar", {StoredEntry::file("keep.txt", "k"),
                                  StoredEntry::link(Redirection::unixSymlink, "escape", "/etc")});
    ToolProcess::Result run = this->run({"links.rar"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, path("keep.txt") + "\n");
    EXPECT_TRUE(run.err.starts_with("Some items in “links.rar” were not extracted.\n")) << run.err;
    EXPECT_NE(run.err.find("escape"), std::string::npos) << run.err;
}

TEST_F(ExtractCommandTest, ProgressGoesToATerminalUnlessQuiet) {
    writeRar5(dir / "shown.rar", {StoredEntry::file("a.txt", std::string(100000, 'a'))});
    writeRar5(dir / "hidden.rar", {StoredEntry::file("b.txt", std::string(100000, 'b'))});

    ToolProcess shown({"shown.rar"}, dir.path(), true);
    ToolProcess::Result drawn = shown.wait();
    EXPECT_EQ(drawn.exitCode, 0);
    EXPECT_NE(drawn.err.find("shown.rar"), std::string::npos) << drawn.err;
    // The line is erased before the output path is printed.
    EXPECT_TRUE(drawn.err.ends_with("\r\033[K")) << drawn.err;

    ToolProcess quiet({"--quiet", "hidden.rar"}, dir.path(), true);
    ToolProcess::Result silent = quiet.wait();
    EXPECT_EQ(silent.exitCode, 0);
    EXPECT_EQ(silent.err, "");
    EXPECT_EQ(silent.out, path("b.txt") + "\n");
}

// Printed raw, a name could erase a failure line and print a fake success
// in its place, split one path into two lines, or show its end first.
TEST_F(ExtractCommandTest, ControlCharactersInNamesCannotForgeOrSplitLines) {
    struct Case {
        std::string name;
        std::string shown;
    };
    const std::vector<Case> cases = {
        {"line\nbreak.txt", "line\\nbreak.txt"},
        {"\x1b[2K\rall fine.txt", "\\x1b[2K\\rall fine.txt"},
        {"x\n" + path("done.txt"), "x\\n" + path("done.txt")},
        {"del\x7f.txt", "del\\x7f.txt"},
        {"next\xC2\x85line.txt", "next\\u0085line.txt"},
        {"csi\xC2\x9B"
         "2K.txt",
         "csi\\u009b2K.txt"},
        {"back\\slash\tand tab.txt", "back\\\\slash\\tand tab.txt"},
        // Shown raw, these reorder or hide what the line says: "exe.txt".
        {"\xE2\x80\xAEtxt.exe", "\\u202etxt.exe"},
        {"isolate\xE2\x81\xA7"
         "exe.\xE2\x81\xA9txt",
         "isolate\\u2067exe.\\u2069txt"},
        {"zero\xE2\x80\x8Bwidth\xE2\x80\x8D.txt", "zero\\u200bwidth\\u200d.txt"},
        {"mark\xE2\x80\x8F\xD8\x9C\xEF\xBB\xBF.txt", "mark\\u200f\\u061c\\ufeff.txt"},
        {"line\xE2\x80\xA8para\xE2\x80\xA9.txt", "line\\u2028para\\u2029.txt"},
        {"tag\xF3\xA0\x80\x81.txt", "tag\\U000e0001.txt"},
        // Visible characters stay as they are.
        {"caf\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x98\x80.txt",
         "caf\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x98\x80.txt"},
    };
    std::vector<std::string> arguments;
    std::string expected;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::string archive = "c" + std::to_string(i) + ".rar";
        writeRar5(dir / archive, {StoredEntry::file("../" + cases[i].name, "x")});
        arguments.push_back(archive);
        expected +=
            failureLine(archive, ExtractionError::unsafePath("../" + cases[i].shown), archive);
    }
    ToolProcess::Result run = this->run(arguments);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, expected);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'),
              static_cast<std::ptrdiff_t>(cases.size()));
}

TEST_F(ExtractCommandTest, OutputPathsAndProgressShowControlCharactersAsEscapes) {
    writeRar5(dir / "bell\a.rar",
              {StoredEntry::file("tab\there\nnext.txt", std::string(100000, 't'))});
    ToolProcess tool({"bell\a.rar"}, dir.path(), true);
    ToolProcess::Result run = tool.wait();
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, path("tab\\there\\nnext.txt") + "\n");
    EXPECT_EQ(readFile(dir / "tab\there\nnext.txt"), std::string(100000, 't'));
    EXPECT_NE(run.err.find("bell\\x07.rar"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("tab\\there\\nnext.txt"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find_first_of("\a\t\n"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace tovani::testing
