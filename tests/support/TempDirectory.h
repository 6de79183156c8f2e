// TempDirectory is a fresh, empty directory for one test, removed with
// everything in it (read-only subdirectories included) when it goes away.
//
//   TempDirectory dir;
//   std::filesystem::path archive = dir.path() / "a.rar";
#pragma once

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace tovani::testing {

class TempDirectory {
public:
    TempDirectory();
    ~TempDirectory();
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& relative) const {
        return path_ / relative;
    }

private:
    std::filesystem::path path_;
};

// Names of the items directly inside a directory, hidden ones included.
std::set<std::string> directoryNames(const std::filesystem::path& directory);

// Everything below directory, by relative path: type, mode and owner of each
// item, with a file's bytes and a link's target, so that a test can assert
// a tree is byte-identical afterwards. Links are never followed; mounts
// below directory are entered; the items directly inside named in leftOut
// are neither listed nor walked.
std::map<std::string, std::string> treeSnapshot(const std::filesystem::path& directory,
                                                const std::vector<std::string>& leftOut = {});

// Writes text to a file, creating its parent directories.
void writeFile(const std::filesystem::path& file, const std::string& contents);
std::string readFile(const std::filesystem::path& file);

}  // namespace tovani::testing
