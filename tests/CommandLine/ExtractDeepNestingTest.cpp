// An archive of a few hundred entries whose paths nest 498 folders deep
// makes 200,000 folders. ostrel-extract keeps nothing per folder: its peak
// memory stays small and does not grow with the number of folders.
#include <gtest/gtest.h>
#include <cstdio>

#include "CommandLine/ToolProcess.h"
#include "support/RarWriter.h"
#include "support/TempDirectory.h"
#include "support/Tmpfs.h"

namespace tovani::testing {
namespace {

namespace fs = std::filesystem;

// chains entries, each a folder path of 498 components: "x007/a/a/.../a".
std::vector<StoredEntry> nestedFolders(int chains) {
    std::vector<StoredEntry> entries;
    for (int chain = 0; chain < chains; ++chain) {
        char top[16];
        std::snprintf(top, sizeof top, "x%03d", chain);
        std::string path = top;
        for (int level = 1; level < 498; ++level)
            path += "/a";
        entries.push_back(StoredEntry::directory(path));
    }
    return entries;
}

TEST(ExtractDeepNestingTest, TwoHundredThousandNestedFoldersInFlatMemory) {
    TempDirectory dir;
    // A memory-backed volume for the test's own directory, where 200,000
    // folders are made and removed in seconds rather than minutes of disk
    // writes; the disk itself serves when mounting is not allowed.
    Tmpfs memory(dir.path(), "mode=0700");
    writeRar5(dir / "few.rar", nestedFolders(20));
    writeRar5(dir / "many.rar", nestedFolders(402));
    const ToolProcess::Result few = ToolProcess::run({"--quiet", "few.rar"}, dir.path());
    ASSERT_EQ(few.exitCode, 0) << few.err;
    const ToolProcess::Result many = ToolProcess::run({"--quiet", "many.rar"}, dir.path());
    ASSERT_EQ(many.exitCode, 0) << many.err;
    EXPECT_EQ(many.out, (dir / "many").string() + "\n");
    std::string deepest = "many/x401";
    for (int level = 1; level < 498; ++level)
        deepest += "/a";
    EXPECT_TRUE(fs::is_directory(dir / deepest));
    std::cerr << "peak memory: " << few.peakKiB << " KiB for 9,960 folders, " << many.peakKiB
              << " KiB for 200,196\n";
    // AddressSanitizer holds freed memory back on purpose, so only a plain
    // build can tell.
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(many.peakKiB, 64 * 1024);
    EXPECT_LE(many.peakKiB, few.peakKiB + 4096);
#endif
}

// count empty files in folders of a hundred: "d012/f01234".
std::vector<StoredEntry> manyFiles(int count) {
    std::vector<StoredEntry> entries;
    for (int index = 0; index < count; ++index) {
        char path[32];
        std::snprintf(path, sizeof path, "d%03d/f%05d", index / 100, index);
        entries.push_back(StoredEntry::file(path, ""));
    }
    return entries;
}

// The whole listing is judged before anything is written, yet no entry is
// kept for it: the peak does not grow with the number of entries.
TEST(ExtractDeepNestingTest, FortyThousandFilesInFlatMemory) {
    TempDirectory dir;
    // On a memory-backed volume too, as above.
    Tmpfs memory(dir.path(), "mode=0700");
    writeRar5(dir / "few.rar", manyFiles(2'000));
    writeRar5(dir / "many.rar", manyFiles(40'000));
    const ToolProcess::Result few = ToolProcess::run({"--quiet", "few.rar"}, dir.path());
    ASSERT_EQ(few.exitCode, 0) << few.err;
    const ToolProcess::Result many = ToolProcess::run({"--quiet", "many.rar"}, dir.path());
    ASSERT_EQ(many.exitCode, 0) << many.err;
    EXPECT_TRUE(fs::is_regular_file(dir / "many" / "d399" / "f39999"));
    std::cerr << "peak memory: " << few.peakKiB << " KiB for 2,000 files, " << many.peakKiB
              << " KiB for 40,000\n";
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LE(many.peakKiB, few.peakKiB + 2048);
#endif
}

}  // namespace
}  // namespace tovani::testing
