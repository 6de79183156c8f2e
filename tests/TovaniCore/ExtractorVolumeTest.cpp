// Volumes that are no file (a pipe, a folder, a device, a socket), as the
// archive itself or as a later part, are refused before any decoder starts,
// naming that file; a later part that is empty or unreadable is named as the
// part at fault instead of the one before it. The destination stays as it was.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "TovaniCore/ExtractorHarness.h"
#include "support/OtherUser.h"
#include "support/PatternedBytes.h"
#include "support/RarTool.h"

namespace tovani::testing {
namespace {

namespace fs = std::filesystem;
using E = ExtractionError;
using Reason = E::VolumeUnreadable::Reason;

// A listening socket bound at path, as another program would leave one.
void makeSocket(const fs::path& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.string().copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
}

class ExtractorVolume : public ::testing::Test {
protected:
    // x.part1.rar … x.part3.rar with one file across them; the contents of
    // part 2 are kept to restore it.
    fs::path makeSet() {
        makeTree(dir / "src", {{"movie.bin", patterned(300'000)}});
        const fs::path first =
            rar(dir / "src", (dir / "x.rar").string(), {"-m0", "-v100k"}, {"movie.bin"});
        fs::remove_all(dir / "src");
        return first;
    }

    ExtractorHarness h;
    const fs::path& dir = h.dir;
};

TEST_F(ExtractorVolume, AVolumeThatIsNoFileIsRefusedByNameBeforeAnyDecoderStarts) {
    const struct {
        const char* kind;
        std::function<void(const fs::path&)> make;
    } kinds[] = {
        {"pipe", [](const fs::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); }},
        {"folder", [](const fs::path& p) { fs::create_directory(p); }},
        {"device", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); }},
        {"socket", [](const fs::path& p) { makeSocket(p); }},
    };
    const fs::path first = makeSet();
    const std::string part2 = readFile(dir / "x.part2.rar");
    for (const auto& kind : kinds) {
        for (const std::string name : {"x.part2.rar", "x.part1.rar"}) {
            SCOPED_TRACE(std::string(kind.kind) + " as " + name);
            const std::string kept = readFile(dir / name);
            fs::remove(dir / name);
            kind.make(dir / name);
            const int listsBefore = h.engine->lists;

            Outcome outcome = h.extract(name == "x.part1.rar" ? first : dir / "x.part3.rar");
            EXPECT_EQ(outcome.error(), E::volumeUnreadable(name, Reason::notAFile));
            EXPECT_EQ(h.engine->lists, listsBefore) << "a decoder saw it";

            fs::remove_all(dir / name);
            writeFile(dir / name, kept);
        }
    }
    EXPECT_EQ(readFile(dir / "x.part2.rar"), part2);
}

TEST_F(ExtractorVolume, AnEmptyLaterPartIsNamedNotThePartBeforeIt) {
    const fs::path first = makeSet();
    const std::string part2 = readFile(dir / "x.part2.rar");
    writeFile(dir / "x.part2.rar", "");
    EXPECT_EQ(h.extract(first).error(), E::volumeUnreadable("x.part2.rar", Reason::empty));

    // A stray empty file after a complete set is never read, so never blamed.
    writeFile(dir / "x.part2.rar", part2);
    writeFile(dir / "x.part4.rar", "");
    Outcome whole = h.extract(first);
    ASSERT_TRUE(whole.succeeded()) << whole.error();
}

TEST_F(ExtractorVolume, ALaterPartTheUserMayNotReadIsNamedNotThePartBeforeIt) {
    const OtherUser& user = OtherUser::get();
    ::chmod(dir.c_str(), 0755);
    const fs::path first = makeSet();
    const fs::path output = dir / "out";
    fs::create_directory(output);
    ::chown(output.c_str(), user.uid(), user.gid());
    ::chmod((dir / "x.part2.rar").c_str(), 0600);
    const std::string said = user.run([&] {
        std::ostringstream text;
        try {
            text << Extractor(std::make_shared<RarEngine>())
                        .extract(first, ExtractionOptions{false, output}, ExtractionHandlers{})
                        .output();
        } catch (const ExtractionError& error) {
            text << error;
        }
        return text.str();
    });
    std::ostringstream expected;
    expected << E::volumeUnreadable("x.part2.rar", Reason::noPermission);
    EXPECT_EQ(said, expected.str());
    EXPECT_TRUE(fs::is_empty(output));
}

}  // namespace
}  // namespace tovani::testing
