// RarTool makes real archives at test time: it writes the files a test needs
// into its temporary directory and runs the installed `rar` program over
// them. Archives that program cannot make come from RarWriter.h instead.
//
//   TempDirectory dir;
//   makeTree(dir.path(), {{"docs/a.txt", "alpha"}, {"empty/", ""}});
//   fs::path archive = rar(dir.path(), "docs.rar", {"-psecret"}, {"docs", "empty"});
//   fs::path first = rar(dir.path(), "set.rar", {"-v20k", "-m0"}, {"big.bin"});
//   // first == dir / "set.part1.rar"; volumeFiles(first) lists every part
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace tovani::testing {

// Creates files (relative path, contents) below root, with their parent
// directories. A path ending in "/" makes a directory instead.
void makeTree(const std::filesystem::path& root,
              const std::vector<std::pair<std::string, std::string>>& files);

// Runs `rar a -idq -y <switches> <archiveName> <inputs...>` with
// workingDirectory as the current directory (no shell involved), so relative
// inputs are stored with the paths given. Returns the archive made: the file
// named archiveName (relative names resolved against workingDirectory), or
// for a volume set (-v<size>k) its first volume name.partN.rar. Throws
// std::runtime_error carrying the tool's output when it exits non-zero.
//
// Useful switches: -m0 store, -s solid (rar then orders files by extension),
// -p<pwd> encrypted data, -hp<pwd> encrypted headers, -v<size>k volumes,
// -ol symbolic links as links, -oh hard links, -oi:1 identical files as
// references, -ma5 RAR 5.
std::filesystem::path rar(const std::filesystem::path& workingDirectory,
                          const std::string& archiveName, std::vector<std::string> switches,
                          std::vector<std::string> inputs);

// Every volume of the set whose first volume is given (name.part1.rar,
// name.part01.rar ...), in volume order; just that file when it is not a
// name.partN.rar volume.
std::vector<std::filesystem::path> volumeFiles(const std::filesystem::path& firstVolume);

// Output of one run of a program, for tests that need other tools.
struct ToolRun {
    int exitCode = 0;
    std::string output;  // stdout and stderr together
};

// Runs program (looked up in PATH) with the arguments, in workingDirectory,
// stdin from /dev/null. Throws std::system_error when it cannot be started.
ToolRun runTool(const std::filesystem::path& workingDirectory, const std::string& program,
                const std::vector<std::string>& arguments);

}  // namespace tovani::testing
