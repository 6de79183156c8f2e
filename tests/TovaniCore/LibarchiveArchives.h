// Archives for the libarchive engine's tests, made at test time by the tools
// that make them in the wild (bsdtar, 7z, gzip and friends) or by Python's
// zipfile and tarfile, which can also write what no tool would.
//
//   makeSampleTree(dir);                                    // dir/tree/...
//   tool(dir, "bsdtar", {"-czf", "t.tar.gz", "tree"});
//   python(dir, "import zipfile\nzipfile.ZipFile('a.zip','w').writestr('../x','1')");
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/RarTool.h"

namespace tovani::testing {

// Runs program in dir; a failure to make the archive fails the test at once.
inline void tool(const std::filesystem::path& dir, const std::string& program,
                 const std::vector<std::string>& arguments) {
    const ToolRun run = runTool(dir, program, arguments);
    if (run.exitCode != 0) {
        throw std::runtime_error(program + " failed: " + run.output);
    }
}

inline void python(const std::filesystem::path& dir, const std::string& program) {
    tool(dir, "python3", {"-c", program});
}

// The contents of the sample tree's compressible file.
inline std::string sampleProse() {
    std::string text;
    for (unsigned line = 0; text.size() < 40000; ++line) {
        text += "line " + std::to_string(line * 7919u % 10007u) + " of the sample\n";
    }
    return text;
}

// dir/tree: a.txt, sub/b.txt (compressible), empty/, and link -> a.txt.
inline void makeSampleTree(const std::filesystem::path& dir) {
    makeTree(dir,
             {{"tree/a.txt", "alpha\n"}, {"tree/sub/b.txt", sampleProse()}, {"tree/empty/", ""}});
    std::filesystem::create_symlink("a.txt", dir / "tree" / "link");
}

}  // namespace tovani::testing
