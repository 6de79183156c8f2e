// StagingWriter is the sink that turns the entries an engine extracts into
// files, directories and links below a private staging root it creates
// itself. Every path comes from PathSanitizer, every parent must be a real
// directory, existing files are replaced and never written through, and
// links are judged before they are made; refused links and device nodes,
// FIFOs and sockets become skipped
// entries. It carries the entries' modes and times and the archive's
// provenance attribute onto what it creates. Everything is done relative to
// directories it opened itself, never by path, so a folder renamed or
// replaced by a link meanwhile cannot redirect a single write.
//
//   StagingWriter writer(workspace.handle(), "Photos", provenance, total, progress, isCancelled);
//   engine.extract(archive, password, writer);
//   writer.finalizeDirectories();  // directory modes and times, deepest first
//   for (const SkippedEntry& s : writer.skipped()) { ... }
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "TovaniCore/ArchiveEntrySink.h"
#include "TovaniCore/DirectoryHandle.h"
#include "TovaniCore/ExtractionProgress.h"
#include "TovaniCore/SkippedEntry.h"
#include "TovaniCore/Timestamp.h"

namespace tovani {

class StagingWriter final : public ArchiveEntrySink {
public:
    // Creates rootName inside parent (it must not exist yet) with mode 0755
    // and marks it with the provenance bytes. totalBytes: what the space
    // check granted; progress counts towards it, and the blocks reserved for
    // large files never add up to more. Throws
    // ExtractionError::writeFailed("", errno).
    StagingWriter(const DirectoryHandle& parent, const std::string& rootName,
                  std::optional<std::vector<std::byte>> provenance, std::uint64_t totalBytes,
                  std::function<void(const ExtractionProgress&)> progress,
                  std::function<bool()> isCancelled);
    // The same for a root named by path; its parent is opened once.
    StagingWriter(const std::filesystem::path& root,
                  std::optional<std::vector<std::byte>> provenance, std::uint64_t totalBytes,
                  std::function<void(const ExtractionProgress&)> progress,
                  std::function<bool()> isCancelled);
    // Closes a file still receiving data; never removes anything written.
    ~StagingWriter() override;
    StagingWriter(const StagingWriter&) = delete;
    StagingWriter& operator=(const StagingWriter&) = delete;

    [[nodiscard]] bool begin(const ArchiveEntry& entry) override;
    void write(std::span<const std::byte> chunk) override;
    void finish(const ArchiveEntry& entry) override;

    // Applies the modes and times of directory entries, deepest first.
    void finalizeDirectories();

    // Links refused and special files left out so far, in the order met.
    const std::vector<SkippedEntry>& skipped() const { return skipped_; }

    // Whether some link made so far would point out of its top-level item
    // if that item stood alone (see PathSanitizer::staysInTopLevelItem).
    bool madeLinkLeavingItsTopLevelItem() const { return linkLeavesTopLevelItem_; }

private:
    struct OpenFile {
        int descriptor = -1;
        std::string path;
        std::uint64_t written = 0;
        // Blocks reserved ahead for the size the entry declared.
        std::uint64_t reserved = 0;
    };
    // A directory entry whose mode and time wait for finalizeDirectories:
    // its path once, as sanitized components joined by "/".
    struct PendingDirectory {
        std::string path;
        std::size_t depth = 0;
        std::optional<std::uint16_t> permissions;
        std::optional<Timestamp> modificationDate;
    };
    struct OpenLevel {
        std::string name;
        DirectoryHandle handle;
    };

    void createRoot(const DirectoryHandle& parent, const std::string& rootName);
    // Reserves the blocks of a large file's declared size while the
    // reservations stay within totalBytes; returns what it reserved.
    std::uint64_t reserveBlocks(int descriptor, const ArchiveEntry& entry);
    const DirectoryHandle& directoryFor(std::span<const std::string> components);
    DirectoryHandle enter(const DirectoryHandle& parent, std::span<const std::string> components,
                          std::size_t index);
    const DirectoryHandle& freeParentFor(std::span<const std::string> components);
    void createSymbolicLink(const ArchiveEntry& entry, std::span<const std::string> components,
                            const std::optional<std::string>& target);
    [[nodiscard]] bool findExistingFile(const std::string& target, const ArchiveEntry& entry,
                                        DirectoryHandle& parent, std::string& name);
    void createHardLink(const ArchiveEntry& entry, std::span<const std::string> components,
                        const std::string& target);
    void createCopy(const ArchiveEntry& entry, std::span<const std::string> components,
                    const std::string& source);
    mode_t fileMode(const ArchiveEntry& entry) const;
    // modeIsSet: the file was created with fileMode(entry) already.
    void applyMetadata(const ArchiveEntry& entry, int descriptor, const std::string& path,
                       bool modeIsSet);
    void applyProvenance(const DirectoryHandle& directory, const std::string& path);
    void reportProgress();
    void addCompleted(std::uint64_t bytes);
    void closeOpenFile() noexcept;
    [[noreturn]] void fail(const std::string& path, int code) const;

    std::vector<SkippedEntry> skipped_;
    DirectoryHandle root_;
    std::optional<std::vector<std::byte>> provenance_;
    std::uint64_t totalBytes_;
    std::function<void(const ExtractionProgress&)> progress_;
    std::function<bool()> isCancelled_;
    std::uint64_t completedBytes_ = 0;
    // What reserveBlocks has reserved so far, never more than totalBytes_.
    std::uint64_t reservedBytes_ = 0;
    std::string currentPath_;
    std::optional<OpenFile> openFile_;
    // The directories of the last path walked, outermost first, each open:
    // the next entry in the same place, or close by, needs no new walk. At
    // most maxOpenLevels are kept; a deeper directory is remembered alone.
    std::vector<OpenLevel> openLevels_;
    std::vector<std::string> deepComponents_;
    DirectoryHandle deep_;
    std::vector<PendingDirectory> pendingDirectories_;
    bool linkLeavesTopLevelItem_ = false;
    // The user's umask, read once; modes taken from the archive never grant
    // more than it allows (chmod is not subject to it).
    mode_t umask_;
    // Whether files are created with their final mode (see the constructor).
    bool createsFinalModes_ = false;
};

}  // namespace tovani
