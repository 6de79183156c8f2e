#include "TovaniCore/StagingWriter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <limits>
#include <utility>
#include <variant>

#include "TovaniCore/ExtractionError.h"
#include "TovaniCore/FileSystemPlatform.h"
#include "TovaniCore/Overloaded.h"
#include "TovaniCore/PathSanitizer.h"

namespace tovani {

namespace {

// Access time left alone.
std::array<struct timespec, 2> times(Timestamp modification) {
    std::array<struct timespec, 2> result{};
    result[0].tv_sec = 0;
    result[0].tv_nsec = UTIME_OMIT;
    result[1].tv_sec = static_cast<time_t>(modification.seconds);
    result[1].tv_nsec = static_cast<long>(modification.nanoseconds);
    return result;
}

// Every file system Linux writes to holds the times from 1980 to early 2038
// (vfat begins in 1980, ext3 and XFS without big timestamps end in 2038).
constexpr std::int64_t kEveryFileSystemFrom = 315532800;  // 1980-01-01
constexpr std::int64_t kEveryFileSystemUntil = 2147483647;

// Dates an item to its modification time: set writes the times, read gives
// back what the file system kept. A file system clamps a time it cannot
// hold without a word (ext4 keeps nothing before 1901-12-13), so a time
// outside what all hold is read back, and one not kept, beyond the
// rounding to the file system's granularity (2 s at most), becomes the
// time of extraction, as if the archive had none. 0 or an errno.
template <typename Set, typename Read>
int setModificationTime(Timestamp modification, const Set& set, const Read& read) {
    auto time = times(modification);
    int code = set(time.data());
    if (code != EINVAL && code != EOVERFLOW) {
        if (code != 0 || (modification.seconds >= kEveryFileSystemFrom &&
                          modification.seconds < kEveryFileSystemUntil)) {
            return code;
        }
        struct stat kept {};
        if (read(kept) != 0) {
            return 0;
        }
        const Timestamp keptTime{kept.st_mtim.tv_sec,
                                 static_cast<std::uint32_t>(kept.st_mtim.tv_nsec)};
        if (keptTime <= modification && keptTime.seconds >= modification.seconds - 2) {
            return 0;
        }
    }
    time[1].tv_sec = 0;
    time[1].tv_nsec = UTIME_NOW;
    return set(time.data());
}
// Files this large have their blocks reserved before their data arrives;
// for smaller ones the call costs more than it saves.
constexpr std::uint64_t reserveFrom = 1024 * 1024;

// Bounds the descriptors one writer keeps open, whatever the nesting.
constexpr std::size_t maxOpenLevels = 64;

std::string joined(std::span<const std::string> components) {
    std::string path;
    for (const std::string& component : components) {
        if (!path.empty()) {
            path += '/';
        }
        path += component;
    }
    return path;
}

// root's own name, also when it is written with a trailing "/".
std::string nameOf(const std::filesystem::path& root) {
    const std::filesystem::path normal = root.lexically_normal();
    return (normal.has_filename() ? normal.filename() : normal.parent_path().filename()).string();
}

// The folder that holds root, opened once.
DirectoryHandle openFolderOf(const std::filesystem::path& root) {
    const std::filesystem::path normal = root.lexically_normal();
    const std::filesystem::path folder =
        normal.has_filename() ? normal.parent_path() : normal.parent_path().parent_path();
    DirectoryHandle parent;
    if (const int code = DirectoryHandle::open(folder.empty() ? "." : folder, parent)) {
        throw ExtractionError::writeFailed("", code);
    }
    return parent;
}

}  // namespace

StagingWriter::StagingWriter(const DirectoryHandle& parent, const std::string& rootName,
                             std::optional<std::vector<std::byte>> provenance,
                             std::uint64_t totalBytes,
                             std::function<void(const ExtractionProgress&)> progress,
                             std::function<bool()> isCancelled)
    : provenance_(std::move(provenance)),
      totalBytes_(totalBytes),
      progress_(std::move(progress)),
      isCancelled_(std::move(isCancelled)),
      umask_(FileSystemPlatform::processUmask()) {
    createRoot(parent, rootName);
    // Setting the provenance attribute needs a writable file; a default
    // access list makes the kernel ignore the umask at creation.
    createsFinalModes_ = !provenance_ && !root_.hasDefaultAccessList();
}

StagingWriter::StagingWriter(const std::filesystem::path& root,
                             std::optional<std::vector<std::byte>> provenance,
                             std::uint64_t totalBytes,
                             std::function<void(const ExtractionProgress&)> progress,
                             std::function<bool()> isCancelled)
    : StagingWriter(openFolderOf(root), nameOf(root), std::move(provenance), totalBytes,
                    std::move(progress), std::move(isCancelled)) {}

void StagingWriter::createRoot(const DirectoryHandle& parent, const std::string& rootName) {
    if (const int code = parent.makeDirectory(rootName, 0755)) {
        throw ExtractionError::writeFailed("", code);
    }
    if (const int code = parent.openChild(rootName, root_)) {
        throw ExtractionError::writeFailed("", code);
    }
    applyProvenance(root_, "");
}

std::uint64_t StagingWriter::reserveBlocks(int descriptor, const ArchiveEntry& entry) {
    // The declared size is the decoder's word: it is taken only as far as
    // the space check already granted, whatever it says now.
    const std::uint64_t size = entry.unpackedSize;
    if (size < reserveFrom || size > totalBytes_ - reservedBytes_) {
        return 0;
    }
    // Without a reservation the writes still go through, only a little slower.
    if (FileSystemPlatform::reserveBlocks(descriptor, size) != 0) {
        return 0;
    }
    reservedBytes_ += size;
    return size;
}

StagingWriter::~StagingWriter() {
    closeOpenFile();
}

bool StagingWriter::begin(const ArchiveEntry& entry) {
    if (isCancelled_ && isCancelled_()) {
        throw ExtractionError::cancelled();
    }
    const std::vector<std::string> components = PathSanitizer::components(entry.path);
    // An engine that skipped finish() must not leak the previous descriptor.
    closeOpenFile();
    currentPath_ = entry.path;
    reportProgress();
    return std::visit(
        Overloaded{
            [&](const ArchiveEntry::SymbolicLink& link) {
                createSymbolicLink(entry, components, link.target);
                return false;
            },
            [&](const ArchiveEntry::HardLink& link) {
                createHardLink(entry, components, link.target);
                return false;
            },
            [&](const ArchiveEntry::Copy& copy) {
                createCopy(entry, components, copy.source);
                return false;
            },
            [&](const ArchiveEntry::Special&) {
                skipped_.push_back(SkippedEntry{entry.path, SkippedEntry::Reason::specialFile});
                return false;
            },
            [&](const ArchiveEntry::Directory&) {
                directoryFor(components);
                pendingDirectories_.push_back(
                    PendingDirectory{joined(components), components.size(), entry.posixPermissions,
                                     entry.modificationDate});
                return false;
            },
            [&](const ArchiveEntry::File&) {
                // Created with its final mode where the kernel applies it as
                // fchmod would, which spares a call per file; the workspace
                // is private, so no one else can open it meanwhile.
                const mode_t mode = createsFinalModes_ ? fileMode(entry) : 0600;
                int descriptor = -1;
                const std::span<const std::string> path(components);
                int code = directoryFor(path.first(path.size() - 1))
                               .createFile(components.back(), mode, descriptor);
                // The name is looked at only when taken: a rare second entry
                // of the same name.
                if (code == EEXIST) {
                    code =
                        freeParentFor(components).createFile(components.back(), mode, descriptor);
                }
                if (code != 0) {
                    fail(joined(components), code);
                }
                openFile_ = OpenFile{descriptor, joined(components), 0, 0};
                openFile_->reserved = reserveBlocks(descriptor, entry);
                return true;
            },
        },
        entry.kind);
}

void StagingWriter::write(std::span<const std::byte> chunk) {
    if (isCancelled_ && isCancelled_()) {
        throw ExtractionError::cancelled();
    }
    if (!openFile_ || chunk.data() == nullptr) {
        return;
    }
    const char* data = reinterpret_cast<const char*>(chunk.data());
    std::size_t left = chunk.size();
    while (left > 0) {
        const ssize_t written = ::write(openFile_->descriptor, data, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail(openFile_->path, errno);
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    openFile_->written += chunk.size();
    addCompleted(chunk.size());
    reportProgress();
}

void StagingWriter::finish(const ArchiveEntry& entry) {
    if (!openFile_) {
        return;
    }
    const OpenFile file = std::move(*openFile_);
    openFile_.reset();
    try {
        // A file that ended short of its reservation gives back the blocks
        // past its end; its size is what was written all along.
        if (file.written < file.reserved &&
            ::ftruncate(file.descriptor, static_cast<off_t>(file.written)) != 0) {
            fail(file.path, errno);
        }
        applyMetadata(entry, file.descriptor, file.path, createsFinalModes_);
    } catch (...) {
        ::close(file.descriptor);
        throw;
    }
    // A delayed write error (network file systems) shows up only here.
    if (::close(file.descriptor) != 0 && errno != EINTR) {
        fail(file.path, errno);
    }
}

void StagingWriter::finalizeDirectories() {
    // Done with the walk cache: its descriptors are not needed any more.
    openLevels_.clear();
    deep_ = DirectoryHandle();
    deepComponents_.clear();
    std::stable_sort(
        pendingDirectories_.begin(), pendingDirectories_.end(),
        [](const PendingDirectory& a, const PendingDirectory& b) { return a.depth > b.depth; });
    for (const PendingDirectory& directory : pendingDirectories_) {
        DirectoryHandle handle;
        if (const int code = root_.openBeneath(PathSanitizer::components(directory.path), handle)) {
            fail(directory.path, code);
        }
        if (directory.permissions) {
            // The owner keeps read, write and search whatever the archive or umask say.
            const mode_t mode =
                (static_cast<mode_t>(*directory.permissions & 0077) & ~umask_) | 0700;
            if (const int code = handle.setMode(mode)) {
                fail(directory.path, code);
            }
        }
        if (directory.modificationDate) {
            const int code = setModificationTime(
                *directory.modificationDate,
                [&](const struct timespec* time) { return handle.setTimes(time); },
                [&](struct stat& kept) {
                    return ::fstat(handle.descriptor(), &kept) == 0 ? 0 : errno;
                });
            if (code != 0) {
                fail(directory.path, code);
            }
        }
    }
    pendingDirectories_.clear();
    pendingDirectories_.shrink_to_fit();
}

DirectoryHandle StagingWriter::enter(const DirectoryHandle& parent,
                                     std::span<const std::string> components, std::size_t index) {
    const std::string& name = components[index];
    DirectoryHandle child;
    int code = parent.openChild(name, child);
    bool created = false;
    if (code == ENOENT) {
        code = parent.makeDirectory(name, 0755);
        if (code != 0) {
            fail(joined(components.first(index + 1)), code);
        }
        created = true;
        code = parent.openChild(name, child);
    }
    if (code == ELOOP || code == ENOTDIR) {
        // A link or a file stands where a directory is needed.
        throw ExtractionError::unsafePath(currentPath_);
    }
    if (code != 0) {
        fail(joined(components.first(index + 1)), code);
    }
    if (created) {
        applyProvenance(child, joined(components.first(index + 1)));
    }
    return child;
}

const DirectoryHandle& StagingWriter::directoryFor(std::span<const std::string> components) {
    // Top-level items leave the walk cache as it is for the folder after them.
    if (components.empty()) {
        return root_;
    }
    const std::span<const std::string> cached =
        components.first(std::min(components.size(), maxOpenLevels));
    std::size_t kept = 0;
    while (kept < openLevels_.size() && kept < cached.size() &&
           openLevels_[kept].name == cached[kept]) {
        ++kept;
    }
    if (kept < openLevels_.size()) {
        openLevels_.erase(openLevels_.begin() + static_cast<std::ptrdiff_t>(kept),
                          openLevels_.end());
    }
    for (std::size_t index = kept; index < cached.size(); ++index) {
        const DirectoryHandle& parent = index == 0 ? root_ : openLevels_[index - 1].handle;
        DirectoryHandle child = enter(parent, components, index);
        openLevels_.push_back(OpenLevel{components[index], std::move(child)});
    }
    if (components.size() == cached.size()) {
        return openLevels_.back().handle;
    }
    if (std::equal(components.begin(), components.end(), deepComponents_.begin(),
                   deepComponents_.end())) {
        return deep_;
    }
    DirectoryHandle current;
    for (std::size_t index = cached.size(); index < components.size(); ++index) {
        current =
            enter(index == cached.size() ? openLevels_.back().handle : current, components, index);
    }
    deep_ = std::move(current);
    deepComponents_.assign(components.begin(), components.end());
    return deep_;
}

const DirectoryHandle& StagingWriter::freeParentFor(std::span<const std::string> components) {
    const DirectoryHandle& parent = directoryFor(components.first(components.size() - 1));
    struct stat status;
    if (parent.status(components.back(), status) != 0) {
        return parent;
    }
    if (!S_ISDIR(status.st_mode) && parent.removeFile(components.back()) == 0) {
        return parent;
    }
    throw ExtractionError::unsafePath(currentPath_);
}

void StagingWriter::createSymbolicLink(const ArchiveEntry& entry,
                                       std::span<const std::string> components,
                                       const std::optional<std::string>& target) {
    if (!target) {
        skipped_.push_back(SkippedEntry{entry.path, SkippedEntry::Reason::unreadableLinkTarget});
        return;
    }
    if (!PathSanitizer::isSafeLinkTarget(*target, components)) {
        skipped_.push_back(SkippedEntry{entry.path, SkippedEntry::Reason::unsafeLinkTarget});
        return;
    }
    const DirectoryHandle& parent = freeParentFor(components);
    if (const int code = parent.makeSymbolicLink(*target, components.back())) {
        fail(joined(components), code);
    }
    if (!PathSanitizer::staysInTopLevelItem(*target, components)) {
        linkLeavesTopLevelItem_ = true;
    }
    // Dating a link is best effort; Linux keeps no user attributes on links
    // at all, so the provenance mark has nowhere to go.
    if (entry.modificationDate) {
        const std::string& name = components.back();
        (void)setModificationTime(
            *entry.modificationDate,
            [&](const struct timespec* time) { return parent.setTimes(name, time); },
            [&](struct stat& kept) { return parent.status(name, kept); });
    }
}

bool StagingWriter::findExistingFile(const std::string& target, const ArchiveEntry& entry,
                                     DirectoryHandle& parent, std::string& name) {
    std::vector<std::string> parts;
    try {
        parts = PathSanitizer::components(target);
    } catch (const ExtractionError&) {
        skipped_.push_back(SkippedEntry{entry.path, SkippedEntry::Reason::unsafeLinkTarget});
        return false;
    }
    // Walked afresh and never through a link: the walk cache vouches only
    // for the directories of entries.
    const std::span<const std::string> folders(parts.data(), parts.size() - 1);
    int code = root_.openBeneath(folders, parent);
    struct stat status {};
    if (code == 0) {
        code = parent.status(parts.back(), status);
    }
    if (code == ENOENT) {
        throw ExtractionError::damaged(entry.path);
    }
    if (code == 0 && !S_ISREG(status.st_mode)) {
        code = ELOOP;
    }
    if (code == ELOOP || code == ENOTDIR || code == EXDEV) {
        skipped_.push_back(SkippedEntry{entry.path, SkippedEntry::Reason::unsafeLinkTarget});
        return false;
    }
    if (code != 0) {
        fail(target, code);
    }
    name = parts.back();
    return true;
}

void StagingWriter::createHardLink(const ArchiveEntry& entry,
                                   std::span<const std::string> components,
                                   const std::string& target) {
    DirectoryHandle sourceFolder;
    std::string sourceName;
    if (!findExistingFile(target, entry, sourceFolder, sourceName)) {
        return;
    }
    const DirectoryHandle& parent = freeParentFor(components);
    if (const int code = parent.makeHardLink(sourceFolder, sourceName, components.back())) {
        fail(joined(components), code);
    }
}

void StagingWriter::createCopy(const ArchiveEntry& entry, std::span<const std::string> components,
                               const std::string& source) {
    DirectoryHandle sourceFolder;
    std::string sourceName;
    if (!findExistingFile(source, entry, sourceFolder, sourceName)) {
        return;
    }
    const DirectoryHandle& parent = freeParentFor(components);
    const std::string path = joined(components);
    int descriptor = -1;
    if (const int code = parent.copyFile(sourceFolder, sourceName, components.back(), descriptor)) {
        fail(path, code);
    }
    // The copy has its source's mode, which may be read-only or less: make
    // it owner-writable first, which setting a user attribute needs.
    try {
        if (::fchmod(descriptor, 0600) != 0) {
            fail(path, errno);
        }
        applyMetadata(entry, descriptor, path, false);
    } catch (...) {
        ::close(descriptor);
        throw;
    }
    addCompleted(entry.unpackedSize);
    if (::close(descriptor) != 0 && errno != EINTR) {
        fail(path, errno);
    }
}
mode_t StagingWriter::fileMode(const ArchiveEntry& entry) const {
    // Set-user-ID, set-group-ID and sticky bits never survive; nor do bits the
    // umask withholds, since fchmod does not apply it.
    const mode_t bits =
        entry.posixPermissions ? static_cast<mode_t>(*entry.posixPermissions & 0777) : 0644;
    return bits & ~umask_;
}

void StagingWriter::applyMetadata(const ArchiveEntry& entry, int descriptor,
                                  const std::string& path, bool modeIsSet) {
    if (provenance_) {
        const int code = FileSystemPlatform::setAttribute(
            descriptor, FileSystemPlatform::provenanceAttribute, *provenance_);
        if (code != 0 && code != ENOTSUP) {
            fail(path, code);
        }
    }
    if (!modeIsSet && ::fchmod(descriptor, fileMode(entry)) != 0) {
        fail(path, errno);
    }
    if (entry.modificationDate) {
        const int code = setModificationTime(
            *entry.modificationDate,
            [&](const struct timespec* time) {
                return ::futimens(descriptor, time) == 0 ? 0 : errno;
            },
            [&](struct stat& kept) { return ::fstat(descriptor, &kept) == 0 ? 0 : errno; });
        if (code != 0) {
            fail(path, code);
        }
    }
}

void StagingWriter::applyProvenance(const DirectoryHandle& directory, const std::string& path) {
    if (!provenance_) {
        return;
    }
    const int code = directory.setAttribute(FileSystemPlatform::provenanceAttribute, *provenance_);
    if (code != 0 && code != ENOTSUP) {
        fail(path, code);
    }
}

void StagingWriter::reportProgress() {
    if (progress_) {
        progress_(
            ExtractionProgress{std::min(completedBytes_, totalBytes_), totalBytes_, currentPath_});
    }
}

void StagingWriter::addCompleted(std::uint64_t bytes) {
    // Announced sizes come from the archive; a sum that wraps would make
    // progress run backwards.
    if (__builtin_add_overflow(completedBytes_, bytes, &completedBytes_)) {
        completedBytes_ = std::numeric_limits<std::uint64_t>::max();
    }
}

void StagingWriter::closeOpenFile() noexcept {
    if (openFile_) {
        ::close(openFile_->descriptor);
        openFile_.reset();
    }
}

void StagingWriter::fail(const std::string& path, int code) const {
    // Paths are reported as the archive lays them out; the root itself as "".
    throw ExtractionError::writeFailed(path, code);
}

}  // namespace tovani
