#include "TovaniCore/Extractor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <span>
#include <system_error>
#include <utility>
#include <vector>

#include "TovaniCore/DestinationPlanner.h"
#include "TovaniCore/DirectoryHandle.h"
#include "TovaniCore/FileSystemPlatform.h"
#include "TovaniCore/PasswordSupplier.h"
#include "TovaniCore/SpaceRequirement.h"
#include "TovaniCore/StagingWriter.h"
#include "TovaniCore/Workspace.h"

namespace tovani {

namespace fs = std::filesystem;

namespace {

bool itemExists(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// The set's first volume when it sits beside the archive, else the archive.
fs::path sourceArchive(const ArchiveEngine& engine, const fs::path& archive) {
    const fs::path candidate = engine.firstVolume(archive);
    return itemExists(candidate) ? candidate : archive;
}

// The name the first volume should have; the archive's own name otherwise.
std::string expectedFirstVolumeName(const ArchiveEngine& engine, const fs::path& archive) {
    return engine.firstVolume(archive).filename().string();
}

// What the listing tells before anything is written, gathered entry by
// entry so that no entry is kept: the first refusal (an unsafe path, or one
// or a listing over the limits), the space needed,
// the announced bytes, whether any entry is encrypted, and the count.
struct ListingFacts {
    explicit ListingFacts(std::uint64_t blockSize) : space(blockSize) {}

    void add(const ArchiveEntry& entry) {
        ++count;
        constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
        unpackedBytes =
            entry.unpackedSize > max - unpackedBytes ? max : unpackedBytes + entry.unpackedSize;
        anyEncrypted = anyEncrypted || entry.isEncrypted;
        if (refusal) {
            return;
        }
        try {
            // The tally judges the path first; an unsafe one counts nothing.
            space.add(entry);
        } catch (const ExtractionError& error) {
            refusal = error;
        }
    }

    ArchiveListing listing;
    SpaceRequirement::Tally space;
    std::optional<ExtractionError> refusal;
    std::uint64_t unpackedBytes = 0;
    std::size_t count = 0;
    bool anyEncrypted = false;
};

ListingFacts listWithPasswords(const ArchiveEngine& engine, const fs::path& source,
                               std::uint64_t blockSize, PasswordSupplier& passwords,
                               const Cancellation& cancellation) {
    for (;;) {
        // Each try starts the count afresh.
        ListingFacts facts(blockSize);
        try {
            facts.listing = engine.scan(
                source, passwords.current(), [&](const ArchiveEntry& entry) { facts.add(entry); },
                cancellation);
            return facts;
        } catch (const ExtractionError& error) {
            passwords.answer(error);
        }
    }
}

struct StagedContent {
    std::vector<SkippedEntry> skipped;
    bool linkLeavesTopLevelItem = false;
};

// Passes entries on to the writer and counts them. An archive cut short
// after it was listed ends early without a read error when the cut falls
// between entries; only the count tells that entries went missing. More
// entries than were listed were never judged by the listing's limits.
class CountingSink final : public ArchiveEntrySink {
public:
    CountingSink(ArchiveEntrySink& sink, std::size_t listed) : sink_(sink), listed_(listed) {}

    bool begin(const ArchiveEntry& entry) override {
        if (++count_ > listed_) {
            throw ExtractionError::damaged(std::nullopt);
        }
        return sink_.begin(entry);
    }
    void write(std::span<const std::byte> chunk) override { sink_.write(chunk); }
    void finish(const ArchiveEntry& entry) override { sink_.finish(entry); }

    std::size_t count() const { return count_; }

private:
    ArchiveEntrySink& sink_;
    std::size_t listed_;
    std::size_t count_ = 0;
};

// Extracts into a fresh staging root, starting over with every new password.
StagedContent stageWithPasswords(const ArchiveEngine& engine, const fs::path& source,
                                 const Workspace& workspace, const std::string& rootName,
                                 const std::optional<std::vector<std::byte>>& provenance,
                                 std::uint64_t required, std::size_t listedEntries,
                                 const ExtractionHandlers& handlers, PasswordSupplier& passwords) {
    for (;;) {
        workspace.handle().removeTree(rootName);
        try {
            StagingWriter writer(workspace.handle(), rootName, provenance, required,
                                 handlers.progress, handlers.isCancelled);
            CountingSink counter(writer, listedEntries);
            engine.extract(source, passwords.current(), counter,
                           handlers.cancellation ? *handlers.cancellation : Cancellation::never());
            if (counter.count() < listedEntries) {
                throw ExtractionError::damaged(std::nullopt);
            }
            writer.finalizeDirectories();
            return StagedContent{writer.skipped(), writer.madeLinkLeavingItsTopLevelItem()};
        } catch (const ExtractionError& error) {
            passwords.answer(error);
        }
    }
}

// Moves the staged result into the destination under the first free name.
// The single top-level item moves out alone only when it is an ordinary,
// visible file or folder that keeps all its links inside itself; anything
// else keeps the folder around it.
fs::path moveIntoPlace(const Workspace& workspace, const std::string& rootName,
                       const StagedContent& staged, const DirectoryHandle& destinationHandle,
                       const fs::path& destination, const ExtractionOptions& options) {
    // The output goes where the user asked for it or nowhere: a destination
    // or workspace renamed, deleted or replaced since the start is refused.
    if (!workspace.isInPlace() || !destinationHandle.isNamedBy(destination)) {
        throw ExtractionError::destinationNotWritable(destination);
    }
    DirectoryHandle root;
    std::vector<std::string> children;
    if (const int code = workspace.handle().openChild(rootName, root)) {
        throw fs::filesystem_error("cannot open the staged output", workspace.path() / rootName,
                                   std::error_code(code, std::generic_category()));
    }
    if (const int code = root.names(children)) {
        throw fs::filesystem_error("cannot list the staged output", workspace.path() / rootName,
                                   std::error_code(code, std::generic_category()));
    }

    const DirectoryHandle* from = &workspace.handle();
    std::string name = rootName;
    bool isDirectory = true;
    if (children.size() == 1 && !options.alwaysCreateFolder && !staged.linkLeavesTopLevelItem &&
        !children.front().starts_with('.')) {
        struct stat info {};
        if (root.status(children.front(), info) == 0 &&
            (S_ISREG(info.st_mode) || S_ISDIR(info.st_mode))) {
            from = &root;
            name = children.front();
            isDirectory = S_ISDIR(info.st_mode);
        }
    }

    // Each try is the exclusive move itself, so no name can be taken between
    // a check and the move.
    int error = 0;
    const std::string candidate =
        DestinationPlanner::uniqueName(name, isDirectory, [&](const std::string& tried) {
            error = from->moveExclusive(name, destinationHandle, tried);
            return error == EEXIST;
        });
    if (error == 0) {
        return destination / candidate;
    }
    if (error == EPERM || error == EACCES || error == EROFS) {
        throw ExtractionError::destinationNotWritable(destination);
    }
    throw ExtractionError::writeFailed(candidate, error);
}

// A caller may leave a handler empty: no password, no progress, never
// cancelled. The probe answers for both ways of cancelling.
ExtractionHandlers withDefaults(ExtractionHandlers handlers) {
    if (!handlers.password) {
        handlers.password = [](const PasswordRequest&) { return std::optional<std::string>(); };
    }
    if (!handlers.progress) {
        handlers.progress = [](const ExtractionProgress&) {};
    }
    handlers.isCancelled = [probe = std::move(handlers.isCancelled),
                            cancellation = handlers.cancellation] {
        const bool asked = probe && probe();
        return asked || (cancellation != nullptr && cancellation->isCancelled());
    };
    return handlers;
}

using Unreadable = ExtractionError::VolumeUnreadable::Reason;

// Only regular files reach the reader: a pipe or device in place of a
// volume would block its reads, and a folder is no volume. stat() opens
// nothing, so the check itself cannot block on a pipe or wake a device. A
// volume that is gone by now fails later, as a missing one does.
void refuseVolumesThatAreNoFiles(const ArchiveEngine& engine, const fs::path& source) {
    for (const fs::path& volume : engine.volumesFrom(source)) {
        struct stat info {};
        if (::stat(volume.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
            throw ExtractionError::volumeUnreadable(volume.filename().string(),
                                                    Unreadable::notAFile);
        }
    }
}

// The library blames an empty or unreadable later volume on the one before
// it ("cannot open", "damaged", "not an archive") or calls it missing. When
// reading a set fails so, the first later volume that cannot be read is
// named instead; a failure with every volume readable passes unchanged.
// Only a failure looks: a stray empty file after a complete set is never read.
[[noreturn]] void rethrowNamingUnreadableVolume(const ArchiveEngine& engine, const fs::path& source,
                                                const ExtractionError& error) {
    using E = ExtractionError;
    if (error.is<E::CannotOpen>() || error.is<E::Damaged>() || error.is<E::NotAnArchive>() ||
        error.is<E::VolumeMissing>()) {
        const std::vector<fs::path> volumes = engine.volumesFrom(source);
        for (std::size_t index = 1; index < volumes.size(); ++index) {
            const fs::path& volume = volumes[index];
            struct stat info {};
            if (::stat(volume.c_str(), &info) != 0) {
                continue;
            }
            std::optional<Unreadable> reason;
            if (!S_ISREG(info.st_mode)) {
                reason = Unreadable::notAFile;
            } else if (info.st_size == 0) {
                reason = Unreadable::empty;
            } else if (::faccessat(AT_FDCWD, volume.c_str(), R_OK, AT_EACCESS) != 0) {
                reason = Unreadable::noPermission;
            }
            if (reason) {
                throw E::volumeUnreadable(volume.filename().string(), *reason);
            }
        }
    }
    throw error;
}

}  // namespace

Extractor::Extractor(std::shared_ptr<const ArchiveEngine> engine) : engine_(std::move(engine)) {}

ExtractionResult Extractor::extract(const fs::path& archive, const ExtractionOptions& options,
                                    const ExtractionHandlers& givenHandlers) const {
    const ExtractionHandlers handlers = withDefaults(givenHandlers);
    const fs::path source = sourceArchive(*engine_, archive);
    const fs::path destination = options.destinationDirectory.value_or(source.parent_path());
    if (::access(destination.c_str(), W_OK) != 0) {
        throw ExtractionError::destinationNotWritable(destination);
    }
    // Opened once: every later step works through this descriptor, so a
    // folder renamed or replaced by name meanwhile redirects nothing.
    DirectoryHandle destinationHandle;
    if (DirectoryHandle::open(destination, destinationHandle) != 0) {
        throw ExtractionError::destinationNotWritable(destination);
    }

    std::uint64_t available = 0;
    std::uint64_t blockSize = 0;
    std::uint64_t freeItems = 0;
    if (destinationHandle.volume(available, blockSize, freeItems) != 0) {
        available = 0;
    }

    refuseVolumesThatAreNoFiles(*engine_, source);
    const Cancellation& cancellation =
        handlers.cancellation ? *handlers.cancellation : Cancellation::never();
    const std::string sourceName = source.filename().string();
    PasswordSupplier passwords(handlers.password, sourceName);
    const ListingFacts facts = [&] {
        try {
            return listWithPasswords(*engine_, source, blockSize, passwords, cancellation);
        } catch (const ExtractionError& error) {
            rethrowNamingUnreadableVolume(*engine_, source, error);
        }
    }();
    if (facts.listing.info.isVolume && !facts.listing.info.isFirstVolume) {
        throw ExtractionError::volumeMissing(expectedFirstVolumeName(*engine_, archive));
    }

    // Every path is judged before anything is written.
    if (facts.refusal) {
        throw *facts.refusal;
    }
    const std::uint64_t required = facts.space.bytes();
    if (available < required) {
        throw ExtractionError::insufficientSpace(required, available);
    }
    // The workspace, its marker and the staged output's own folder besides.
    const std::uint64_t items = facts.space.items() + 3;
    if (freeItems < items) {
        throw ExtractionError::insufficientSpace(items, freeItems,
                                                 ExtractionError::InsufficientSpace::Unit::items);
    }
    if (facts.anyEncrypted) {
        passwords.ensurePassword();
    }
    if (handlers.isCancelled()) {
        throw ExtractionError::cancelled();
    }

    Workspace workspace = Workspace::create(destinationHandle, destination);
    const std::string rootName = DestinationPlanner::folderName(sourceName);
    const auto provenance =
        FileSystemPlatform::readAttribute(source, FileSystemPlatform::provenanceAttribute);

    // Progress counts the bytes the archive announces, not blocks on disk.
    StagedContent staged = [&] {
        try {
            return stageWithPasswords(*engine_, source, workspace, rootName, provenance,
                                      facts.unpackedBytes, facts.count, handlers, passwords);
        } catch (const ExtractionError& error) {
            rethrowNamingUnreadableVolume(*engine_, source, error);
        }
    }();
    if (handlers.isCancelled()) {
        throw ExtractionError::cancelled();
    }
    fs::path output =
        moveIntoPlace(workspace, rootName, staged, destinationHandle, destination, options);
    return ExtractionResult(std::move(output), std::move(staged.skipped), facts.listing.files,
                            facts.listing.missingConfinement);
}

}  // namespace tovani
