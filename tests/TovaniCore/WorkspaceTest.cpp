// The sweep of abandoned workspaces, run by an ordinary user's extraction in
// a folder that also holds that user's own folders of similar names, other
// users' workspaces, live ones and mounted file systems. Only what a killed
// job left is removed; everything else is byte-identical afterwards.
#include "TovaniCore/Workspace.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "TovaniCore/Extractor.h"
#include "TovaniCore/RarEngine.h"
#include "support/OtherUser.h"
#include "support/RarWriter.h"
#include "support/TempDirectory.h"
#include "support/Tmpfs.h"

namespace tovani::testing {
namespace {

namespace fs = std::filesystem;

// Runs work in a child that keeps root and returns its text; the child
// ends without running any destructor, as a killed job would.
std::string inChild(const std::function<std::string()>& work) {
    int result[2];
    if (::pipe2(result, O_CLOEXEC) != 0) {
        return "pipe";
    }
    const pid_t child = ::fork();
    if (child == 0) {
        const std::string text = work();
        (void)!::write(result[1], text.data(), text.size());
        ::_exit(0);
    }
    ::close(result[1]);
    std::string text;
    char buffer[256];
    ssize_t count;
    while ((count = ::read(result[0], buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(result[0]);
    ::waitpid(child, nullptr, 0);
    return text;
}

// A workspace made by the real code in a job that then died, with a link to
// link in it, and when deep a chain of 1,000 folders; its name.
std::string abandonedWorkspace(const fs::path& destination, const OtherUser* user,
                               const fs::path& link, bool deep = false) {
    auto work = [&] {
        DirectoryHandle handle;
        if (DirectoryHandle::open(destination, handle) != 0) {
            return std::string();
        }
        // Never destroyed: the job dies holding it.
        auto* workspace = new Workspace(Workspace::create(handle, destination));
        writeFile(workspace->path() / "Photos" / "partial.jpg", "half a photo");
        fs::create_directories(workspace->path() / "Photos" / "closed");
        ::chmod((workspace->path() / "Photos" / "closed").c_str(), 0);
        fs::create_directory_symlink(link, workspace->path() / "Photos" / "link");
        // Deeper than the sweeping job's descriptors would reach at one per level.
        int level = ::dup(workspace->handle().descriptor());
        for (int depth = 0; deep && depth < 1000 && level >= 0; ++depth) {
            ::mkdirat(level, "d", 0700);
            const int next = ::openat(level, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            ::close(level);
            level = next;
        }
        ::close(level);
        return workspace->name();
    };
    return user != nullptr ? user->run(work) : inChild(work);
}

void chownTree(const fs::path& root, const OtherUser& user) {
    ::lchown(root.c_str(), user.uid(), user.gid());
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        ::lchown(item.path().c_str(), user.uid(), user.gid());
    }
}

// The user's extraction of a small archive into destination, which sweeps
// first, with 64 descriptors at most.
std::string extractAs(const OtherUser& user, const fs::path& archive) {
    return user.run([&] {
        const rlimit few{64, 64};
        if (::setrlimit(RLIMIT_NOFILE, &few) != 0) {
            return std::string("cannot lower the limit");
        }
        try {
            return "output " + Extractor(std::make_shared<RarEngine>())
                                   .extract(archive, ExtractionOptions{}, ExtractionHandlers{})
                                   .output()
                                   .string();
        } catch (const ExtractionError& error) {
            return std::string(error.what());
        }
    });
}

const std::string lookalike = ".extract-C0FFEE00-1234-4567-89AB-0123456789AB";

TEST(WorkspaceNames, OnlyTheExactFormMakeUuidTextWritesIsAWorkspaceName) {
    EXPECT_TRUE(isWorkspaceName(std::string(Workspace::namePrefix) + makeUuidText()));
    EXPECT_TRUE(isWorkspaceName(lookalike));
    for (const char* name : {
             ".extract-notes",
             ".extract-cache",
             ".extract-",
             "extract-C0FFEE00-1234-4567-89AB-0123456789AB",
             ".extract-c0ffee00-1234-4567-89ab-0123456789ab",   // lower case
             ".extract-C0FFEE00-1234-3567-89AB-0123456789AB",   // version 3
             ".extract-C0FFEE00-1234-4567-C9AB-0123456789AB",   // another variant
             ".extract-C0FFEE00-1234-4567-89AB-0123456789AB0",  // one more
             ".extract-C0FFEE00-1234-4567-89AB-0123456789A",    // one fewer
             ".extract-C0FFEE001-234-4567-89AB-0123456789AB",   // dash moved
             ".extract-C0FFEE00-1234-4567-89AB-0123456789AG",   // not hex
             ".extract-C0FFEE00-1234-4567-89AB-0123456789AB/x",
         }) {
        EXPECT_FALSE(isWorkspaceName(name)) << name;
    }
}

class WorkspaceSweep : public ::testing::Test {
protected:
    void SetUp() override {
        ::chmod(temp.path().c_str(), 0755);
        fs::create_directories(destination);
        writeRar5(destination / "new.rar", {StoredEntry::file("new.txt", "new")});
    }

    const OtherUser& user = OtherUser::get();
    TempDirectory temp;
    // Memory-backed, where a thousand folders take milliseconds, not seconds;
    // the disk serves when mounting is not allowed.
    Tmpfs memory{temp.path(), "mode=0755"};
    const fs::path destination = temp / "Downloads";
    const fs::path victim = temp / "victim";
};

TEST_F(WorkspaceSweep, SweepRemovesOnlyAbandonedWorkspacesOfTheUsersOwn) {
    // The user's own folders, named like workspaces.
    writeFile(destination / ".extract-notes" / "ideas.txt", "my notes");
    writeFile(destination / ".extract-cache" / "blob", "cached");
    writeFile(destination / lookalike / "kept.txt", "no marker here");
    // A marker that is a link, a FIFO, or a folder, in folders of the exact form.
    writeFile(victim / "secret.txt", "victim");
    const std::string linked = ".extract-11111111-1111-4111-8111-111111111111";
    writeFile(destination / linked / "data", "link marker");
    fs::create_symlink(victim / "secret.txt", destination / linked / Workspace::markerName);
    const std::string piped = ".extract-22222222-2222-4222-9222-222222222222";
    writeFile(destination / piped / "data", "fifo marker");
    ASSERT_EQ(::mkfifo((destination / piped / Workspace::markerName).c_str(), 0600), 0);
    const std::string folder = ".extract-33333333-3333-4333-A333-333333333333";
    fs::create_directories(destination / folder / Workspace::markerName);
    // A workspace-named link to the victim's folder.
    fs::create_directory_symlink(victim,
                                 destination / ".extract-44444444-4444-4444-B444-444444444444");
    chownTree(destination, user);
    chownTree(victim, user);

    // Each job made below sweeps first, so those to be kept are made first.
    // Root's workspace of a killed job: not the user's.
    const std::string foreign = abandonedWorkspace(destination, nullptr, victim);
    // A workspace of the user's whose job still runs (here the test holds its lock).
    const std::string live = abandonedWorkspace(destination, &user, victim);
    ASSERT_TRUE(isWorkspaceName(foreign) && isWorkspaceName(live));
    const int holder =
        ::open((destination / live / Workspace::markerName).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    // A marker owned by someone else in a folder of the user's.
    const std::string otherMarker = abandonedWorkspace(destination, &user, victim);
    ::lchown((destination / otherMarker / Workspace::markerName).c_str(), 0, 0);
    // The user's own workspace of a killed job: the one thing swept.
    const std::string abandoned = abandonedWorkspace(destination, &user, victim, true);
    ASSERT_TRUE(isWorkspaceName(otherMarker) && isWorkspaceName(abandoned));

    const auto before = treeSnapshot(destination, {abandoned});
    const auto victimBefore = treeSnapshot(victim);
    EXPECT_EQ(extractAs(user, destination / "new.rar"),
              "output " + (destination / "new.txt").string());
    ::close(holder);

    EXPECT_FALSE(fs::exists(destination / abandoned));
    EXPECT_EQ(treeSnapshot(destination, {"new.txt"}), before);
    EXPECT_EQ(treeSnapshot(victim), victimBefore);
}

TEST_F(WorkspaceSweep, SweepNeverEntersOrRemovesAMountPoint) {
    chownTree(destination, user);
    // A file system mounted at a workspace's name: a user's USB stick, with a
    // marker of the user's and all.
    const std::string mounted = ".extract-55555555-5555-4555-8555-555555555555";
    Tmpfs stick(destination / mounted, "size=1m,mode=0755");
    if (!stick.mounted())
        GTEST_SKIP() << "cannot mount here";
    writeFile(destination / mounted / "holiday.jpg", "on the stick");
    writeFile(destination / mounted / Workspace::markerName, "");
    chownTree(destination / mounted, user);
    // The user's own folder on the same device, bound at a workspace's name.
    const std::string bound = ".extract-66666666-6666-4666-9666-666666666666";
    writeFile(victim / "thesis.odt", "four years of work");
    writeFile(victim / Workspace::markerName, "");
    chownTree(victim, user);
    fs::create_directories(destination / bound);
    if (::mount(victim.c_str(), (destination / bound).c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "cannot bind mount here";
    // And a file system mounted inside a real abandoned workspace: the rest
    // of the workspace goes, the mounted file system stays as it was.
    const std::string abandoned = abandonedWorkspace(destination, &user, victim, true);
    Tmpfs inner(destination / abandoned / "Photos" / "card", "size=1m,mode=0755");
    writeFile(destination / abandoned / "Photos" / "card" / "photo.raw", "raw photo");
    chownTree(destination / abandoned / "Photos" / "card", user);

    const auto before = treeSnapshot(destination, {abandoned});
    const auto cardBefore = treeSnapshot(destination / abandoned / "Photos" / "card");
    EXPECT_EQ(extractAs(user, destination / "new.rar"),
              "output " + (destination / "new.txt").string());
    const auto after = treeSnapshot(destination, {abandoned, "new.txt"});
    ::umount2((destination / bound).c_str(), MNT_DETACH);

    // The stick and the bound folder, marker and all, are as they were.
    EXPECT_EQ(after, before);
    EXPECT_EQ(treeSnapshot(destination / abandoned / "Photos" / "card"), cardBefore);
    // Only the mount's own way stays of the abandoned workspace.
    EXPECT_EQ(directoryNames(destination / abandoned), std::set<std::string>{"Photos"});
    EXPECT_EQ(directoryNames(destination / abandoned / "Photos"), std::set<std::string>{"card"});
}

}  // namespace
}  // namespace tovani::testing
