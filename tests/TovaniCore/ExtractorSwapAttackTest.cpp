// Another local user who can write to the destination (a group share without
// the sticky bit) renames the running job's workspace, or the destination
// itself, and puts a link to the victim's folder in its place. The job runs
// as an ordinary user with a real archive; the attacker acts while the job
// is paused at an exact point. Nothing outside the output may change.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <sstream>

#include "TovaniCore/Extractor.h"
#include "TovaniCore/RarEngine.h"
#include "TovaniCore/Workspace.h"
#include "support/OtherUser.h"
#include "support/RarWriter.h"
#include "support/TempDirectory.h"

namespace tovani::testing {
namespace {

namespace fs = std::filesystem;
using E = ExtractionError;

// The real engine, with a hook before each entry and a mark once it is done.
class PausingEngine final : public ArchiveEngine {
public:
    fs::path firstVolume(const fs::path& file) const override { return engine.firstVolume(file); }
    std::vector<fs::path> volumesFrom(const fs::path& volume) const override {
        return engine.volumesFrom(volume);
    }
    ArchiveListing list(const fs::path& archive, const std::optional<std::string>& password,
                        const Cancellation& cancellation = Cancellation::never()) const override {
        return engine.list(archive, password, cancellation);
    }
    void extract(const fs::path& archive, const std::optional<std::string>& password,
                 ArchiveEntrySink& into,
                 const Cancellation& cancellation = Cancellation::never()) const override {
        struct Hooked final : ArchiveEntrySink {
            Hooked(ArchiveEntrySink& sink, const PausingEngine& owner) : sink(sink), owner(owner) {}
            bool begin(const ArchiveEntry& entry) override {
                if (owner.beforeEntry) {
                    owner.beforeEntry(entry);
                }
                return sink.begin(entry);
            }
            void write(std::span<const std::byte> chunk) override { sink.write(chunk); }
            void finish(const ArchiveEntry& entry) override { sink.finish(entry); }
            ArchiveEntrySink& sink;
            const PausingEngine& owner;
        } hooked(into, *this);
        engine.extract(archive, password, hooked, cancellation);
        finished = true;
    }

    RarEngine engine;
    std::function<void(const ArchiveEntry&)> beforeEntry;
    mutable bool finished = false;
};

// Everything below root, links not followed: kind, mode, owner and content.
std::map<std::string, std::string> snapshot(const fs::path& root) {
    std::map<std::string, std::string> items;
    struct stat status {};
    ::lstat(root.c_str(), &status);
    items["."] = std::to_string(status.st_mode) + " " + std::to_string(status.st_uid);
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        ::lstat(it->path().c_str(), &status);
        std::string value = std::to_string(status.st_mode) + " " + std::to_string(status.st_uid);
        if (S_ISREG(status.st_mode)) {
            value += " " + readFile(it->path());
        } else if (S_ISLNK(status.st_mode)) {
            value += " -> " + fs::read_symlink(it->path()).string();
        }
        items[fs::relative(it->path(), root).string()] = value;
    }
    return items;
}

std::string workspaceIn(const fs::path& directory) {
    for (const std::string& name : directoryNames(directory)) {
        if (name.starts_with(Workspace::namePrefix)) {
            return name;
        }
    }
    return "";
}

enum class Moment { midJob, beforeFinalMove };

class SwapAttack : public ::testing::Test {
protected:
    void SetUp() override {
        const OtherUser& user = OtherUser::get();
        ::chmod(temp.path().c_str(), 0755);
        // The victim's own folder, with her notes where the output would go.
        fs::create_directories(home / "Documents");
        writeFile(home / "Documents" / "notes.txt", "precious");
        for (const fs::path& item : {home, home / "Documents", home / "Documents" / "notes.txt"}) {
            ::chown(item.c_str(), user.uid(), user.gid());
        }
        ::chmod(home.c_str(), 0755);
        // A share the victim's group may write to, without the sticky bit;
        // its parent is writable by the attacker as well.
        fs::create_directories(shared);
        ::chown(shared.c_str(), 0, user.gid());
        ::chmod(shared.c_str(), 0770);
        ::chmod(parent.c_str(), 0777);
        // A file, a directory, a file in it, a hard link and a copy come
        // after the pause in the middle of the job.
        writeRar5(shared / "Documents.rar",
                  {StoredEntry::file("notes.txt", "from the archive"),
                   StoredEntry::directory("sub"), StoredEntry::file("sub/new.txt", "planted"),
                   StoredEntry::link(Redirection::hardLink, "hard", "notes.txt"),
                   StoredEntry::link(Redirection::fileCopy, "copy", "notes.txt")});
        homeBefore = snapshot(home);
    }

    void TearDown() override { EXPECT_EQ(snapshot(home), homeBefore); }

    // Runs the job as the victim, pausing it at the moment for attack; the
    // job is cancelled after the pause when cancelAfter is set. Returns what
    // the job ended with.
    std::string runAttacked(Moment moment, const std::function<void()>& attack,
                            bool cancelAfter = false) {
        Rendezvous pause;
        return OtherUser::get().run(
            [&] {
                auto engine = std::make_shared<PausingEngine>();
                bool paused = false;
                if (moment == Moment::midJob) {
                    engine->beforeEntry = [&](const ArchiveEntry& entry) {
                        if (entry.path == "sub" && !paused) {
                            paused = true;
                            pause.arrive();
                        }
                    };
                }
                ExtractionHandlers handlers;
                handlers.isCancelled = [&] {
                    // Polled after the last directory is finalized, right
                    // before the output is moved into place.
                    if (moment == Moment::beforeFinalMove && engine->finished && !paused) {
                        paused = true;
                        pause.arrive();
                    }
                    return paused && cancelAfter;
                };
                std::ostringstream text;
                try {
                    const ExtractionResult result = Extractor(engine).extract(
                        shared / "Documents.rar", ExtractionOptions{}, handlers);
                    text << "output " << result.output().string();
                } catch (const ExtractionError& error) {
                    text << error;
                }
                return text.str();
            },
            [&] {
                ASSERT_TRUE(pause.awaitArrival());
                attack();
                pause.release();
            });
    }

    // Renames the workspace away and puts a link to the victim's home in
    // its place; returns the workspace's name.
    std::string swapWorkspaceForLink() {
        const std::string name = workspaceIn(shared);
        EXPECT_FALSE(name.empty());
        fs::rename(shared / name, shared / ".moved");
        fs::create_directory_symlink(home, shared / name);
        return name;
    }

    static std::string errorText(const ExtractionError& error) {
        std::ostringstream text;
        text << error;
        return text.str();
    }

    TempDirectory temp;
    const fs::path home = temp / "home";
    const fs::path parent = temp / "group";
    const fs::path shared = parent / "share";
    std::map<std::string, std::string> homeBefore;
};

TEST_F(SwapAttack, WorkspaceSwappedForALinkMidJobRedirectsNoWrite) {
    std::string planted;
    const std::string result =
        runAttacked(Moment::midJob, [&] { planted = swapWorkspaceForLink(); });
    EXPECT_EQ(result, errorText(E::destinationNotWritable(shared)));
    // The attacker's link stays; the renamed workspace is gone, emptied
    // through its descriptor; no output appeared.
    EXPECT_EQ(directoryNames(shared), (std::set<std::string>{"Documents.rar", planted}));
}

TEST_F(SwapAttack, WorkspaceSwappedForALinkBeforeTheFinalMoveMovesNothingOut) {
    std::string planted;
    const std::string result =
        runAttacked(Moment::beforeFinalMove, [&] { planted = swapWorkspaceForLink(); });
    EXPECT_EQ(result, errorText(E::destinationNotWritable(shared)));
    EXPECT_EQ(directoryNames(shared), (std::set<std::string>{"Documents.rar", planted}));
}

TEST_F(SwapAttack, CleanUpOfAWorkspaceSwappedForALinkLeavesTheLinkedFolderAlone) {
    // Archive modes may close directories; the victim's home must not be
    // opened up (chmod) nor emptied by the clean-up after a cancellation.
    ::chmod(home.c_str(), 0750);
    homeBefore = snapshot(home);
    std::string planted;
    const std::string result = runAttacked(
        Moment::midJob, [&] { planted = swapWorkspaceForLink(); }, true);
    EXPECT_EQ(result, errorText(E::cancelled()));
    EXPECT_EQ(directoryNames(shared), (std::set<std::string>{"Documents.rar", planted}));
}

TEST_F(SwapAttack, DestinationSwappedForALinkBeforeTheFinalMovePlacesNothingThere) {
    const std::string result = runAttacked(Moment::beforeFinalMove, [&] {
        fs::rename(shared, parent / "share.old");
        fs::create_directory_symlink(home, shared);
    });
    EXPECT_EQ(result, errorText(E::destinationNotWritable(shared)));
    EXPECT_EQ(directoryNames(parent), (std::set<std::string>{"share", "share.old"}));
    EXPECT_EQ(directoryNames(parent / "share.old"), (std::set<std::string>{"Documents.rar"}));
}

TEST_F(SwapAttack, WithoutAnAttackTheOneOutputAppears) {
    const std::string result = runAttacked(Moment::midJob, [] {});
    EXPECT_EQ(result, "output " + (shared / "Documents").string());
    EXPECT_EQ(directoryNames(shared), (std::set<std::string>{"Documents.rar", "Documents"}));
    EXPECT_EQ(readFile(shared / "Documents" / "copy"), "from the archive");
    EXPECT_EQ(readFile(shared / "Documents" / "sub" / "new.txt"), "planted");
}

}  // namespace
}  // namespace tovani::testing
