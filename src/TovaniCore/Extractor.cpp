#include "TovaniCore/Extractor.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <span>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "TovaniCore/DestinationPlanner.h"
#include "TovaniCore/FileSystemPlatform.h"
#include "TovaniCore/PasswordSupplier.h"
#include "TovaniCore/PathSanitizer.h"
#include "TovaniCore/StagingWriter.h"
#include "TovaniCore/VolumeResolver.h"
#include "TovaniCore/Workspace.h"

namespace tovani {

namespace fs = std::filesystem;

namespace {

bool itemExists(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// The set's first volume when it sits beside the archive, else the archive.
fs::path sourceArchive(const fs::path& archive) {
    const std::string name = archive.filename().string();
    const std::optional<std::string> first = VolumeResolver::firstVolumeName(name);
    fs::path candidate = (first && *first != name) ? archive.parent_path() / *first : archive;
    return itemExists(candidate) ? candidate : archive;
}

// The name the first volume should have; the archive's own name otherwise.
std::string expectedFirstVolumeName(const fs::path& archive) {
    const std::string name = archive.filename().string();
    return VolumeResolver::firstVolumeName(name).value_or(name);
}

std::uint64_t totalUnpackedSize(const std::vector<ArchiveEntry>& entries) {
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t total = 0;
    for (const ArchiveEntry& entry : entries) {
        total = entry.unpackedSize > max - total ? max : total + entry.unpackedSize;
    }
    return total;
}

ArchiveListing listWithPasswords(const ArchiveEngine& engine, const fs::path& source,
                                 PasswordSupplier& passwords) {
    for (;;) {
        try {
            return engine.list(source, passwords.current());
        } catch (const ExtractionError& error) {
            passwords.answer(error);
        }
    }
}

struct StagedContent {
    std::vector<SkippedEntry> skipped;
};

// Passes entries on to the writer and counts them. An archive cut short
// after it was listed ends early without a read error when the cut falls
// between entries; only the count tells that entries went missing.
class CountingSink final : public ArchiveEntrySink {
public:
    explicit CountingSink(ArchiveEntrySink& sink) : sink_(sink) {}

    bool begin(const ArchiveEntry& entry) override {
        ++count_;
        return sink_.begin(entry);
    }
    void write(std::span<const std::byte> chunk) override { sink_.write(chunk); }
    void finish(const ArchiveEntry& entry) override { sink_.finish(entry); }

    std::size_t count() const { return count_; }

private:
    ArchiveEntrySink& sink_;
    std::size_t count_ = 0;
};

// Extracts into a fresh staging root, starting over with every new password.
StagedContent stageWithPasswords(const ArchiveEngine& engine, const fs::path& source,
                                 const fs::path& stagingRoot,
                                 const std::optional<std::vector<std::byte>>& provenance,
                                 std::uint64_t required, std::size_t listedEntries,
                                 const ExtractionHandlers& handlers, PasswordSupplier& passwords) {
    for (;;) {
        std::error_code ignored;
        fs::remove_all(stagingRoot, ignored);
        try {
            StagingWriter writer(stagingRoot, provenance, required, handlers.progress,
                                 handlers.isCancelled);
            CountingSink counter(writer);
            engine.extract(source, passwords.current(), counter);
            if (counter.count() < listedEntries) {
                throw ExtractionError::damaged(std::nullopt);
            }
            writer.finalizeDirectories();
            return StagedContent{writer.skipped()};
        } catch (const ExtractionError& error) {
            passwords.answer(error);
        }
    }
}

// Whether a symbolic link at linkPath (relative to the staging root) reaches
// the staging root itself or above on its way to its target. Such a link
// stays inside the output folder, but would point at the destination's own
// contents if its top-level item were moved out on its own.
bool climbsToRoot(const fs::path& linkPath, const std::string& target) {
    long depth = -1;
    for (const fs::path& part : linkPath) {
        if (!part.empty()) {
            ++depth;
        }
    }
    std::size_t start = 0;
    while (start <= target.size()) {
        std::size_t end = target.find('/', start);
        if (end == std::string::npos) {
            end = target.size();
        }
        const std::string_view piece(target.data() + start, end - start);
        if (piece == "..") {
            if (--depth <= 0) {
                return true;
            }
        } else if (piece == ".") {
            if (depth <= 0) {
                return true;
            }
        } else if (!piece.empty()) {
            ++depth;
        }
        start = end + 1;
    }
    return false;
}

bool hasLinkToRoot(const fs::path& stagingRoot, const fs::path& item) {
    std::error_code ec;
    auto check = [&](const fs::path& path) {
        std::error_code readError;
        const fs::path target = fs::read_symlink(path, readError);
        return !readError && climbsToRoot(path.lexically_relative(stagingRoot), target.string());
    };
    if (fs::is_symlink(fs::symlink_status(item, ec))) {
        return check(item);
    }
    for (auto it = fs::recursive_directory_iterator(item, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_symlink(ec) && check(it->path())) {
            return true;
        }
    }
    return false;
}

// Moves the staged result into the destination under the first free name.
fs::path moveIntoPlace(const fs::path& stagingRoot, const fs::path& destination,
                       const ExtractionOptions& options) {
    std::vector<fs::path> children;
    for (const fs::directory_entry& child : fs::directory_iterator(stagingRoot)) {
        children.push_back(child.path());
    }

    fs::path chosen = stagingRoot;
    bool isDirectory = true;
    if (children.size() == 1 && !options.alwaysCreateFolder &&
        !hasLinkToRoot(stagingRoot, children.front())) {
        chosen = children.front();
        struct stat info {};
        // A link to a directory counts as a file: it is moved, never entered.
        isDirectory = ::lstat(chosen.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    }

    const std::string name = chosen.filename().string();
    for (std::int64_t attempt = 1;; ++attempt) {
        const std::string candidate = DestinationPlanner::candidateName(name, isDirectory, attempt);
        const int error = FileSystemPlatform::renameExclusive(chosen, destination / candidate);
        if (error == 0) {
            return destination / candidate;
        }
        if (error == EEXIST) {
            continue;
        }
        if (error == EPERM || error == EACCES || error == EROFS) {
            throw ExtractionError::destinationNotWritable(destination);
        }
        throw ExtractionError::writeFailed(candidate, error);
    }
}

// A caller may leave a handler empty: no password, no progress, never cancelled.
ExtractionHandlers withDefaults(ExtractionHandlers handlers) {
    if (!handlers.password) {
        handlers.password = [](const PasswordRequest&) { return std::optional<std::string>(); };
    }
    if (!handlers.progress) {
        handlers.progress = [](const ExtractionProgress&) {};
    }
    if (!handlers.isCancelled) {
        handlers.isCancelled = [] { return false; };
    }
    return handlers;
}

}  // namespace

Extractor::Extractor(std::shared_ptr<const ArchiveEngine> engine) : engine_(std::move(engine)) {}

ExtractionResult Extractor::extract(const fs::path& archive, const ExtractionOptions& options,
                                    const ExtractionHandlers& givenHandlers) const {
    const ExtractionHandlers handlers = withDefaults(givenHandlers);
    const fs::path source = sourceArchive(archive);
    const fs::path destination = options.destinationDirectory.value_or(source.parent_path());
    if (::access(destination.c_str(), W_OK) != 0) {
        throw ExtractionError::destinationNotWritable(destination);
    }

    const std::string sourceName = source.filename().string();
    PasswordSupplier passwords(handlers.password, sourceName);
    const ArchiveListing listing = listWithPasswords(*engine_, source, passwords);
    if (listing.info.isVolume && !listing.info.isFirstVolume) {
        throw ExtractionError::volumeMissing(expectedFirstVolumeName(archive));
    }

    // Every path is judged before anything is written.
    for (const ArchiveEntry& entry : listing.entries) {
        PathSanitizer::components(entry.path);
    }

    const std::uint64_t required = totalUnpackedSize(listing.entries);
    const std::uint64_t available = FileSystemPlatform::availableCapacity(destination);
    if (available < required) {
        throw ExtractionError::insufficientSpace(required, available);
    }

    for (const ArchiveEntry& entry : listing.entries) {
        if (entry.isEncrypted) {
            passwords.ensurePassword();
            break;
        }
    }

    Workspace workspace = Workspace::create(destination);
    const fs::path stagingRoot = workspace.path() / DestinationPlanner::folderName(sourceName);
    const auto provenance =
        FileSystemPlatform::readAttribute(source, FileSystemPlatform::provenanceAttribute);

    StagedContent staged = stageWithPasswords(*engine_, source, stagingRoot, provenance, required,
                                              listing.entries.size(), handlers, passwords);
    if (handlers.isCancelled()) {
        throw ExtractionError::cancelled();
    }
    fs::path output = moveIntoPlace(stagingRoot, destination, options);
    return ExtractionResult(std::move(output), std::move(staged.skipped), listing.files);
}

}  // namespace tovani
