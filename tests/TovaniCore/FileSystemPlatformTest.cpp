#include "TovaniCore/FileSystemPlatform.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <random>
#include <string>

#include "StagingWriterTestEntries.h"
#include "support/TempDirectory.h"
#if defined(__linux__)
#include "TovaniCore/FileSystemPlatformLinux.h"
#endif

namespace tovani::testing {
namespace {

namespace fs = std::filesystem;
namespace platform = FileSystemPlatform;

struct stat statusOf(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
    return status;
}

void setTimes(const fs::path& path, long seconds, long nanoseconds) {
    const struct timespec times[2] = {{seconds - 100, 0}, {seconds, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

TEST(FileSystemPlatform, RenameExclusiveMovesFilesAndDirectories) {
    TempDirectory dir;
    writeFile(dir / "file", "data");
    fs::create_directories(dir / "tree" / "inner");
    EXPECT_EQ(platform::renameExclusive(dir / "file", dir / "moved"), 0);
    EXPECT_EQ(platform::renameExclusive(dir / "tree", dir / "placed"), 0);
    EXPECT_EQ(directoryNames(dir.path()), (std::set<std::string>{"moved", "placed"}));
    EXPECT_EQ(readFile(dir / "moved"), "data");
    EXPECT_TRUE(fs::is_directory(dir / "placed" / "inner"));
    EXPECT_EQ(platform::renameExclusive(dir / "missing", dir / "x"), ENOENT);
}

TEST(FileSystemPlatform, RenameExclusiveNeverReplaces) {
    TempDirectory dir;
    writeFile(dir / "file", "new");
    fs::create_directory(dir / "tree");
    writeFile(dir / "takenFile", "old");
    fs::create_directory(dir / "takenDir");
    fs::create_symlink("nowhere", dir / "dangling");

    for (const char* source : {"file", "tree"}) {
        for (const char* target : {"takenFile", "takenDir", "dangling"}) {
            EXPECT_EQ(platform::renameExclusive(dir / source, dir / target), EEXIST)
                << source << " onto " << target;
        }
    }
    EXPECT_EQ(readFile(dir / "takenFile"), "old");
    EXPECT_TRUE(fs::is_empty(dir / "takenDir"));
    EXPECT_EQ(fs::read_symlink(dir / "dangling"), "nowhere");
    EXPECT_EQ(readFile(dir / "file"), "new");
    EXPECT_TRUE(fs::is_directory(dir / "tree"));
}

TEST(FileSystemPlatform, CopyFileExclusiveCopiesDataModeTimesAndUserAttributes) {
    TempDirectory dir;
    std::string data(3 * 1024 * 1024 + 17, '\0');
    std::mt19937 random(7);
    for (char& c : data) {
        c = static_cast<char>(random());
    }
    writeFile(dir / "source", data);
    ASSERT_EQ(::chmod((dir / "source").c_str(), 0640), 0);
    const bool attributes = keepsUserAttributes(dir.path());
    if (attributes) {
        ASSERT_EQ(::setxattr((dir / "source").c_str(), "user.origin", "here", 4, 0), 0);
        ASSERT_EQ(::setxattr((dir / "source").c_str(), "user.empty", "", 0, 0), 0);
    }
    setTimes(dir / "source", 1'000'000'000, 250'000'000);

    ASSERT_EQ(platform::copyFileExclusive(dir / "source", dir / "copy"), 0);

    // Before reading it back, which moves its access time.
    const struct stat copy = statusOf(dir / "copy");
    EXPECT_EQ(readFile(dir / "copy"), data);
    EXPECT_EQ(copy.st_mode & 07777, 0640u);
    EXPECT_EQ(copy.st_mtim.tv_sec, 1'000'000'000);
    EXPECT_EQ(copy.st_mtim.tv_nsec, 250'000'000);
    EXPECT_EQ(copy.st_atim.tv_sec, 1'000'000'000 - 100);
    EXPECT_NE(copy.st_ino, statusOf(dir / "source").st_ino);
    if (attributes) {
        EXPECT_EQ(attributeOf(dir / "copy", "user.origin"), "here");
        EXPECT_EQ(attributeOf(dir / "copy", "user.empty"), "");
    }
}

TEST(FileSystemPlatform, CopyFileExclusiveRefusesTakenDestinationsAndOddSources) {
    TempDirectory dir;
    writeFile(dir / "source", "new");
    writeFile(dir / "taken", "old");
    fs::create_symlink("nowhere", dir / "dangling");
    fs::create_symlink("source", dir / "link");
    fs::create_directory(dir / "folder");

    EXPECT_EQ(platform::copyFileExclusive(dir / "source", dir / "taken"), EEXIST);
    EXPECT_EQ(readFile(dir / "taken"), "old");
    EXPECT_EQ(platform::copyFileExclusive(dir / "source", dir / "dangling"), EEXIST);
    EXPECT_FALSE(fs::exists(dir / "nowhere"));
    EXPECT_EQ(platform::copyFileExclusive(dir / "link", dir / "fromLink"), ELOOP);
    EXPECT_EQ(platform::copyFileExclusive(dir / "folder", dir / "fromFolder"), EISDIR);
    EXPECT_EQ(platform::copyFileExclusive(dir / "missing", dir / "fromMissing"), ENOENT);
    EXPECT_EQ(directoryNames(dir.path()),
              (std::set<std::string>{"source", "taken", "dangling", "link", "folder"}));
}

#if defined(__linux__)
TEST(FileSystemPlatform, CopyFileExclusiveReadsWhatTheKernelCannotCopyForIt) {
    // /proc is another file system that neither clones nor copies ranges,
    // and reports size 0 for files that do have contents.
    TempDirectory dir;
    ASSERT_EQ(platform::copyFileExclusive("/proc/self/status", dir / "status"), 0);
    EXPECT_NE(readFile(dir / "status").find("Umask:"), std::string::npos);
}

TEST(FileSystemPlatform, RenameWithoutKernelSupportStillNeverReplaces) {
    TempDirectory dir;
    writeFile(dir / "file", "new");
    fs::create_directories(dir / "tree" / "inner");
    fs::create_symlink("nowhere", dir / "link");
    writeFile(dir / "takenFile", "old");
    fs::create_directory(dir / "takenDir");
    fs::create_symlink("nowhere", dir / "dangling");

    for (const char* source : {"file", "tree", "link"}) {
        for (const char* target : {"takenFile", "takenDir", "dangling"}) {
            EXPECT_EQ(platform::renameWithoutNoReplaceFlag(dir / source, dir / target), EEXIST)
                << source << " onto " << target;
        }
    }
    EXPECT_EQ(readFile(dir / "takenFile"), "old");
    EXPECT_TRUE(fs::is_empty(dir / "takenDir"));
    EXPECT_EQ(fs::read_symlink(dir / "dangling"), "nowhere");

    EXPECT_EQ(platform::renameWithoutNoReplaceFlag(dir / "tree", dir / "tree" / "inner" / "x"),
              EINVAL);
    EXPECT_TRUE(fs::is_empty(dir / "tree" / "inner")) << "the reservation is given up";

    EXPECT_EQ(platform::renameWithoutNoReplaceFlag(dir / "file", dir / "movedFile"), 0);
    EXPECT_EQ(platform::renameWithoutNoReplaceFlag(dir / "tree", dir / "movedTree"), 0);
    EXPECT_EQ(platform::renameWithoutNoReplaceFlag(dir / "link", dir / "movedLink"), 0);
    EXPECT_EQ(readFile(dir / "movedFile"), "new");
    EXPECT_TRUE(fs::is_directory(dir / "movedTree" / "inner"));
    EXPECT_EQ(fs::read_symlink(dir / "movedLink"), "nowhere");
    EXPECT_EQ(directoryNames(dir.path()),
              (std::set<std::string>{"movedFile", "movedTree", "movedLink", "takenFile", "takenDir",
                                     "dangling"}));
}
#endif

TEST(FileSystemPlatform, AvailableCapacity) {
    TempDirectory dir;
    EXPECT_GT(platform::availableCapacity(dir.path()), 0u);
    EXPECT_EQ(platform::availableCapacity(dir / "missing"), 0u);
}

TEST(FileSystemPlatform, ReadAndSetAttributes) {
    TempDirectory dir;
    if (!keepsUserAttributes(dir.path())) {
        GTEST_SKIP() << "no user extended attributes here";
    }
    const char* name = platform::provenanceAttribute;
    EXPECT_STREQ(name, "user.xdg.origin.url");
    writeFile(dir / "file", "");
    fs::create_symlink("file", dir / "link");
    EXPECT_EQ(platform::readAttribute(dir / "file", name), std::nullopt);

    EXPECT_EQ(platform::setAttribute(dir / "link", name, bytes("https://a.example/x"), false), 0);
    EXPECT_EQ(platform::readAttribute(dir / "file", name), bytes("https://a.example/x"));
    EXPECT_EQ(platform::readAttribute(dir / "link", name), bytes("https://a.example/x"));
    // Linux keeps no user attributes on a link itself.
    EXPECT_EQ(platform::setAttribute(dir / "link", name, bytes("y"), true), EPERM);

    const int descriptor = ::open((dir / "file").c_str(), O_RDONLY);
    ASSERT_GE(descriptor, 0);
    EXPECT_EQ(platform::setAttribute(descriptor, name, bytes("")), 0);
    ::close(descriptor);
    EXPECT_EQ(platform::readAttribute(dir / "file", name), std::nullopt) << "empty counts as none";
    EXPECT_EQ(platform::readAttribute(dir / "missing", name), std::nullopt);
    EXPECT_EQ(platform::setAttribute(dir / "missing", name, bytes("y"), true), ENOENT);
}

TEST(FileSystemPlatform, ProcessUmaskIsReadWithoutChangingIt) {
    ScopedUmask mask(027);
    EXPECT_EQ(platform::processUmask(), 027u);
    EXPECT_EQ(platform::processUmask(), 027u);
    EXPECT_EQ(::umask(027), 027u);
}

}  // namespace
}  // namespace tovani::testing
