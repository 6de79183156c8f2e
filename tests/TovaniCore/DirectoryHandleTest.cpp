// Clean-up through DirectoryHandle: whatever a tree holds (any depth, links
// to the user's files, folders it may not enter, mounted file systems), it
// removes what lies in its own mount and nothing else, with a fixed number
// of descriptors.
#include "TovaniCore/DirectoryHandle.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <string>

#include "support/OtherUser.h"
#include "support/TempDirectory.h"
#include "support/Tmpfs.h"

namespace tovani::testing {
namespace {

namespace fs = std::filesystem;

int openDescriptors() {
    int count = 0;
    for ([[maybe_unused]] const auto& item : fs::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

// A chain of levels folders "d" below root, made through descriptors (no
// path could name the bottom), with a file at the bottom, a closed folder
// and a link to the victim halfway, and a file on every thousandth level.
std::string makeDeepTree(const fs::path& root, int levels, const fs::path& victim) {
    int current = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int level = 0; level < levels && current >= 0; ++level) {
        if (level == levels / 2) {
            if (::symlinkat(victim.c_str(), current, "victim") != 0 ||
                ::mkdirat(current, "closed", 0) != 0) {
                return "cannot make the links halfway";
            }
        }
        if (level % 1000 == 0) {
            const int file = ::openat(current, "f", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0400);
            ::close(file);
        }
        if (::mkdirat(current, "d", 0700) != 0) {
            return "mkdirat failed at level " + std::to_string(level);
        }
        const int next = ::openat(current, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(current);
        current = next;
    }
    if (current < 0) {
        return "cannot open a level";
    }
    const int file = ::openat(current, "bottom", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    ::close(file);
    ::close(current);
    return file >= 0 ? "" : "cannot make the bottom file";
}

TEST(DirectoryHandleRemoval, TwentyThousandLevelsGoWithAFewDescriptorsAndNothingOutside) {
    TempDirectory temp;
    // Twenty times the usual descriptor limit, yet removed with three. On
    // a memory-backed volume, so that the folders take a second; the disk
    // serves when mounting is not allowed.
    Tmpfs memory(temp.path(), "mode=0755");
    const OtherUser& user = OtherUser::get();
    const fs::path tree = temp / "workspace";
    const fs::path victim = temp / "victim";
    writeFile(victim / "keep.txt", "the user's file");
    fs::create_directories(tree);
    ::chown(tree.c_str(), user.uid(), user.gid());
    const auto victimBefore = treeSnapshot(victim);

    const std::string said = user.run([&] {
        const std::string made = makeDeepTree(tree, 20'000, victim);
        if (!made.empty()) {
            return made;
        }
        DirectoryHandle handle;
        if (DirectoryHandle::open(tree, handle) != 0) {
            return std::string("cannot open the tree");
        }
        // Room for three descriptors beyond those open now: one per level
        // would run out within the first few levels.
        const rlim_t limit = static_cast<rlim_t>(openDescriptors()) + 3;
        const rlimit low{limit, limit};
        if (::setrlimit(RLIMIT_NOFILE, &low) != 0) {
            return std::string("cannot lower the limit");
        }
        const auto start = std::chrono::steady_clock::now();
        handle.removeContents();
        const auto took = std::chrono::steady_clock::now() - start;
        std::cerr << "removed 20,000 levels in "
                  << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms\n";
        return std::string("removed");
    });
    EXPECT_EQ(said, "removed");
    EXPECT_TRUE(directoryNames(tree).empty());
    EXPECT_EQ(treeSnapshot(victim), victimBefore);
}

TEST(DirectoryHandleRemoval, FolderItMayReadButNotSearchIsLeftByWalkingDownAgain) {
    // Another user's empty folder, readable but closed to searching, so that
    // ".." cannot be looked up inside it: the walk climbs back by walking
    // down again from its root, and the whole tree goes all the same.
    TempDirectory temp;
    const OtherUser& user = OtherUser::get();
    const fs::path tree = temp / "workspace";
    fs::create_directories(tree / "a" / "b" / "closed");
    writeFile(tree / "a" / "b" / "z" / "after.txt", "after");
    for (const fs::path& item : {tree, tree / "a", tree / "a" / "b", tree / "a" / "b" / "z",
                                 tree / "a" / "b" / "z" / "after.txt"}) {
        ::chown(item.c_str(), user.uid(), user.gid());
    }
    ::chmod(temp.path().c_str(), 0755);
    ::chmod((tree / "a" / "b" / "closed").c_str(), 0444);

    const std::string said = user.run([&] {
        DirectoryHandle handle;
        if (DirectoryHandle::open(tree, handle) != 0) {
            return std::string("cannot open the tree");
        }
        handle.removeContents();
        return std::string("removed");
    });
    EXPECT_EQ(said, "removed");
    EXPECT_TRUE(directoryNames(tree).empty());
}

TEST(DirectoryHandleRemoval, RemovalStaysInItsOwnMount) {
    TempDirectory temp;
    const fs::path tree = temp / "workspace";
    const fs::path victim = temp / "victim";
    writeFile(victim / "thesis.odt", "four years of work");
    writeFile(tree / "out" / "a.txt", "staged");
    writeFile(tree / "out" / "sub" / "b.txt", "staged");
    fs::create_directory_symlink(victim, tree / "out" / "link");
    // Another file system below the tree, and the victim's folder bound into
    // it: the same device, another mount.
    Tmpfs stick(tree / "out" / "sub" / "stick", "size=1m,mode=0755");
    if (!stick.mounted())
        GTEST_SKIP() << "cannot mount here";
    writeFile(tree / "out" / "sub" / "stick" / "photo.jpg", "on the stick");
    fs::create_directories(tree / "out" / "bound");
    if (::mount(victim.c_str(), (tree / "out" / "bound").c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "cannot bind mount here";
    const auto victimBefore = treeSnapshot(victim);
    const auto stickBefore = treeSnapshot(tree / "out" / "sub" / "stick");

    // As root, whom no permission stops.
    DirectoryHandle handle;
    ASSERT_EQ(DirectoryHandle::open(tree, handle), 0);
    handle.removeContents();
    const auto victimAfter = treeSnapshot(victim);
    const bool boundStays = fs::exists(tree / "out" / "bound" / "thesis.odt");
    ::umount2((tree / "out" / "bound").c_str(), MNT_DETACH);

    EXPECT_TRUE(boundStays);
    EXPECT_EQ(victimAfter, victimBefore);
    EXPECT_EQ(treeSnapshot(tree / "out" / "sub" / "stick"), stickBefore);
    // Of the tree, only the ways to the mount points are left.
    EXPECT_EQ(directoryNames(tree / "out"), (std::set<std::string>{"bound", "sub"}));
    EXPECT_EQ(directoryNames(tree / "out" / "sub"), std::set<std::string>{"stick"});
}

}  // namespace
}  // namespace tovani::testing
