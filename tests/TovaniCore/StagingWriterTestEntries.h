// Helpers for driving a StagingWriter by hand: entry values of each kind, a
// fixture that owns a writer over a fresh staging root, and a scoped umask.
//
//   StagingWriterFixture: make(); send(fileEntry("a/b.txt", 0644), "data");
//   EXPECT_EQ(errorOf([&] { (void)writer().begin(fileEntry("../x")); }),
//             ExtractionError::unsafePath("../x"));
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "TovaniCore/ArchiveEngine.h"
#include "TovaniCore/StagingWriter.h"
#include "support/TempDirectory.h"

namespace tovani::testing {

inline ArchiveEntry fileEntry(std::string path, std::optional<std::uint16_t> permissions = 0644,
                              std::optional<Timestamp> date = std::nullopt) {
    return ArchiveEntry{std::move(path), ArchiveEntry::File{}, 0, 0, date, permissions, false};
}

inline ArchiveEntry directoryEntry(std::string path,
                                   std::optional<std::uint16_t> permissions = std::nullopt,
                                   std::optional<Timestamp> date = std::nullopt) {
    return ArchiveEntry{std::move(path), ArchiveEntry::Directory{}, 0, 0, date, permissions, false};
}

inline ArchiveEntry symlinkEntry(std::string path, std::optional<std::string> target,
                                 std::optional<Timestamp> date = std::nullopt) {
    return ArchiveEntry{
        std::move(path), ArchiveEntry::SymbolicLink{std::move(target)}, 0, 0, date, 0777, false};
}

inline ArchiveEntry hardLinkEntry(std::string path, std::string target) {
    return ArchiveEntry{std::move(path),
                        ArchiveEntry::HardLink{std::move(target)},
                        0,
                        0,
                        std::nullopt,
                        0644,
                        false};
}

inline ArchiveEntry copyEntry(std::string path, std::string source, std::uint64_t size = 0,
                              std::optional<std::uint16_t> permissions = 0644,
                              std::optional<Timestamp> date = std::nullopt) {
    return ArchiveEntry{
        std::move(path), ArchiveEntry::Copy{std::move(source)}, size, 0, date, permissions, false};
}

inline std::vector<std::byte> bytes(std::string_view text) {
    std::vector<std::byte> result(text.size());
    if (!text.empty()) {
        std::memcpy(result.data(), text.data(), text.size());
    }
    return result;
}

// The permission bits of whatever is at path, links not followed.
inline mode_t modeOf(const std::filesystem::path& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        ADD_FAILURE() << "nothing at " << path;
        return 0;
    }
    return status.st_mode & 07777;
}

inline bool isSymlink(const std::filesystem::path& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

// Whether the file system under directory keeps user extended attributes.
inline bool keepsUserAttributes(const std::filesystem::path& directory) {
    const std::filesystem::path probe = directory / ".attribute-probe";
    writeFile(probe, "");
    const int result = ::setxattr(probe.c_str(), "user.probe", "1", 1, 0);
    std::filesystem::remove(probe);
    return result == 0;
}

// The value of an extended attribute of the item itself (links not followed).
inline std::optional<std::string> attributeOf(const std::filesystem::path& path, const char* name) {
    char value[256];
    const ssize_t size = ::lgetxattr(path.c_str(), name, value, sizeof value);
    if (size < 0) {
        return std::nullopt;
    }
    return std::string(value, static_cast<std::size_t>(size));
}

// The error the action throws, if any. Actions that are expected to throw
// discard what the call would return: it never returns.
template <class Action>
std::optional<ExtractionError> errorOf(Action&& action) {
    try {
        action();
    } catch (const ExtractionError& error) {
        return error;
    }
    return std::nullopt;
}

// Sets the process umask for one test and puts the old one back.
class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : previous_(::umask(mask)) {}
    ~ScopedUmask() { ::umask(previous_); }
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
    mode_t previous_;
};

class StagingWriterFixture : public ::testing::Test {
protected:
    // The staging root lies in a workspace, so "outside" is a real place.
    StagingWriter& make(std::optional<std::vector<std::byte>> provenance = std::nullopt,
                        std::uint64_t totalBytes = 1000) {
        writer_ = std::make_unique<StagingWriter>(
            root, std::move(provenance), totalBytes,
            [this](const ExtractionProgress& p) { reports.push_back(p); },
            [this] { return cancelled; });
        return *writer_;
    }
    StagingWriter& writer() { return *writer_; }
    void destroyWriter() { writer_.reset(); }

    // One whole file entry: begin, one chunk, finish.
    void send(const ArchiveEntry& entry, std::string_view contents = {}) {
        ASSERT_TRUE(writer_->begin(entry)) << entry.path;
        if (!contents.empty()) {
            writer_->write(std::as_bytes(std::span(contents.data(), contents.size())));
        }
        writer_->finish(entry);
    }
    // An entry that gets no data (directories and links).
    void sendEmpty(const ArchiveEntry& entry) { ASSERT_FALSE(writer_->begin(entry)) << entry.path; }

    TempDirectory workspace;
    std::filesystem::path root = workspace / "Stage";
    std::vector<ExtractionProgress> reports;
    bool cancelled = false;

private:
    std::unique_ptr<StagingWriter> writer_;
};

}  // namespace tovani::testing
