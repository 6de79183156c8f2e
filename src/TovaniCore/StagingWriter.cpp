#include "TovaniCore/StagingWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <limits>
#include <utility>
#include <variant>

#include "TovaniCore/ExtractionError.h"
#include "TovaniCore/FileSystemPlatform.h"
#include "TovaniCore/Overloaded.h"
#include "TovaniCore/PathSanitizer.h"

namespace tovani {

namespace {

// Access time left alone; modification time to the nearest nanosecond, with
// a fraction that rounds up to a whole second carried into the seconds.
std::array<struct timespec, 2> times(Timestamp modification) {
    std::array<struct timespec, 2> result{};
    result[0].tv_sec = 0;
    result[0].tv_nsec = UTIME_OMIT;
    const double seconds = secondsSince1970(modification);
    const double whole = std::floor(seconds);
    if (!std::isfinite(whole) || std::fabs(whole) > 1e15) {
        // Not a time the file system can hold: leave it as it is.
        result[1].tv_sec = 0;
        result[1].tv_nsec = UTIME_OMIT;
        return result;
    }
    long long nanoseconds = std::llround((seconds - whole) * 1e9);
    long long wholeSeconds = static_cast<long long>(whole);
    if (nanoseconds >= 1'000'000'000) {
        nanoseconds -= 1'000'000'000;
        wholeSeconds += 1;
    }
    result[1].tv_sec = static_cast<time_t>(wholeSeconds);
    result[1].tv_nsec = static_cast<long>(nanoseconds);
    return result;
}

}  // namespace

StagingWriter::StagingWriter(const std::filesystem::path& root,
                             std::optional<std::vector<std::byte>> quarantine,
                             std::uint64_t totalBytes,
                             std::function<void(const ExtractionProgress&)> progress,
                             std::function<bool()> isCancelled)
    : root_(root.string()),
      quarantine_(std::move(quarantine)),
      totalBytes_(totalBytes),
      progress_(std::move(progress)),
      isCancelled_(std::move(isCancelled)),
      umask_(FileSystemPlatform::processUmask()) {
    while (root_.size() > 1 && root_.back() == '/') {
        root_.pop_back();
    }
    if (::mkdir(root_.c_str(), 0755) != 0) {
        throw ExtractionError::writeFailed("", errno);
    }
    applyQuarantine(root_);
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
            [&](const ArchiveEntry::Directory&) {
                std::string path = directoryFor(components);
                pendingDirectories_.push_back(PendingDirectory{std::move(path), components.size(),
                                                               entry.posixPermissions,
                                                               entry.modificationDate});
                return false;
            },
            [&](const ArchiveEntry::File&) {
                std::string path = freePathFor(components);
                const int descriptor = ::open(
                    path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
                if (descriptor < 0) {
                    fail(path, errno);
                }
                openFile_ = OpenFile{descriptor, std::move(path)};
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
        applyMetadata(entry, file.descriptor, file.path);
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
    std::stable_sort(
        pendingDirectories_.begin(), pendingDirectories_.end(),
        [](const PendingDirectory& a, const PendingDirectory& b) { return a.depth > b.depth; });
    for (const PendingDirectory& directory : pendingDirectories_) {
        if (directory.permissions) {
            // The owner keeps read, write and search whatever the archive or umask say.
            const mode_t mode =
                (static_cast<mode_t>(*directory.permissions & 0077) & ~umask_) | 0700;
            if (::chmod(directory.path.c_str(), mode) != 0) {
                fail(directory.path, errno);
            }
        }
        if (directory.modificationDate) {
            const auto time = times(*directory.modificationDate);
            if (::utimensat(AT_FDCWD, directory.path.c_str(), time.data(), 0) != 0) {
                fail(directory.path, errno);
            }
        }
    }
    pendingDirectories_.clear();
}

std::string StagingWriter::directoryFor(std::span<const std::string> components) {
    std::string path = root_;
    for (const std::string& component : components) {
        path += '/';
        path += component;
        if (verifiedDirectories_.contains(path)) {
            continue;
        }
        struct stat status;
        if (::lstat(path.c_str(), &status) != 0) {
            if (::mkdir(path.c_str(), 0755) != 0) {
                fail(path, errno);
            }
            applyQuarantine(path);
        } else if (!S_ISDIR(status.st_mode)) {
            throw ExtractionError::unsafePath(currentPath_);
        }
        verifiedDirectories_.insert(path);
    }
    return path;
}

std::string StagingWriter::freePathFor(std::span<const std::string> components) {
    std::string path = directoryFor(components.first(components.size() - 1));
    path += '/';
    path += components.back();
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0) {
        return path;
    }
    if (!S_ISDIR(status.st_mode) && ::unlink(path.c_str()) == 0) {
        return path;
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
    const std::string path = freePathFor(components);
    if (::symlink(target->c_str(), path.c_str()) != 0) {
        fail(path, errno);
    }
    // Dating and marking a link are best effort: Linux keeps no user
    // attributes on links at all.
    if (entry.modificationDate) {
        const auto time = times(*entry.modificationDate);
        ::utimensat(AT_FDCWD, path.c_str(), time.data(), AT_SYMLINK_NOFOLLOW);
    }
    if (quarantine_) {
        FileSystemPlatform::setAttribute(path, FileSystemPlatform::provenanceAttribute,
                                         *quarantine_, true);
    }
}

std::optional<std::string> StagingWriter::existingFileForLinkTarget(const std::string& target,
                                                                    const ArchiveEntry& entry) {
    std::vector<std::string> parts;
    try {
        parts = PathSanitizer::components(target);
    } catch (const ExtractionError&) {
        skipped_.push_back(SkippedEntry{entry.path, SkippedEntry::Reason::unsafeLinkTarget});
        return std::nullopt;
    }
    // Every step is probed afresh: the cache only vouches for directories.
    std::string path = root_;
    for (std::size_t index = 0; index < parts.size(); ++index) {
        path += '/';
        path += parts[index];
        struct stat status;
        if (::lstat(path.c_str(), &status) != 0) {
            throw ExtractionError::damaged(entry.path);
        }
        const bool isLast = index + 1 == parts.size();
        if (isLast ? !S_ISREG(status.st_mode) : !S_ISDIR(status.st_mode)) {
            skipped_.push_back(SkippedEntry{entry.path, SkippedEntry::Reason::unsafeLinkTarget});
            return std::nullopt;
        }
    }
    return path;
}

void StagingWriter::createHardLink(const ArchiveEntry& entry,
                                   std::span<const std::string> components,
                                   const std::string& target) {
    const std::optional<std::string> existing = existingFileForLinkTarget(target, entry);
    if (!existing) {
        return;
    }
    const std::string path = freePathFor(components);
    if (::link(existing->c_str(), path.c_str()) != 0) {
        fail(path, errno);
    }
}

void StagingWriter::createCopy(const ArchiveEntry& entry, std::span<const std::string> components,
                               const std::string& source) {
    const std::optional<std::string> existing = existingFileForLinkTarget(source, entry);
    if (!existing) {
        return;
    }
    const std::string path = freePathFor(components);
    if (const int code = FileSystemPlatform::copyFileExclusive(*existing, path)) {
        fail(path, code);
    }
    // The copy has its source's mode, which may be read-only: open it for
    // reading (enough for the mode and the time) and make it owner-writable
    // first, which setting a user attribute needs.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0) {
        fail(path, errno);
    }
    try {
        if (::fchmod(descriptor, 0600) != 0) {
            fail(path, errno);
        }
        applyMetadata(entry, descriptor, path);
    } catch (...) {
        ::close(descriptor);
        throw;
    }
    addCompleted(entry.unpackedSize);
    ::close(descriptor);
}

void StagingWriter::applyMetadata(const ArchiveEntry& entry, int descriptor,
                                  const std::string& path) {
    if (quarantine_) {
        const int code = FileSystemPlatform::setAttribute(
            descriptor, FileSystemPlatform::provenanceAttribute, *quarantine_);
        if (code != 0 && code != ENOTSUP) {
            fail(path, code);
        }
    }
    // Set-user-ID, set-group-ID and sticky bits never survive; nor do bits the
    // umask withholds, since fchmod does not apply it.
    const mode_t bits =
        entry.posixPermissions ? static_cast<mode_t>(*entry.posixPermissions & 0777) : 0644;
    if (::fchmod(descriptor, bits & ~umask_) != 0) {
        fail(path, errno);
    }
    if (entry.modificationDate) {
        const auto time = times(*entry.modificationDate);
        if (::futimens(descriptor, time.data()) != 0) {
            fail(path, errno);
        }
    }
}

void StagingWriter::applyQuarantine(const std::string& path) {
    if (!quarantine_) {
        return;
    }
    const int code = FileSystemPlatform::setAttribute(path, FileSystemPlatform::provenanceAttribute,
                                                      *quarantine_, true);
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
    const std::string prefix = root_ + "/";
    std::string reported;
    if (path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0) {
        reported = path.substr(prefix.size());
    }
    throw ExtractionError::writeFailed(std::move(reported), code);
}

}  // namespace tovani
