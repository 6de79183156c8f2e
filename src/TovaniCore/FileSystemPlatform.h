// FileSystemPlatform holds the few file-system services whose calls differ
// between operating systems: the exclusive rename, the clone-or-copy of one
// file, free space, extended attributes and the process umask. One source
// file per platform implements it; work relative to an open directory goes
// through DirectoryHandle.
//
//   int code = FileSystemPlatform::renameExclusive(staging / "Photos", destination / "Photos");
//   if (code == EEXIST) { /* name taken: try the next one */ }
//   auto mark = FileSystemPlatform::readAttribute(archive,
//   FileSystemPlatform::provenanceAttribute);
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

namespace tovani::FileSystemPlatform {

// Name of the extended attribute that records where a downloaded file came
// from; the archive's value is carried onto everything extracted from it.
extern const char* const provenanceAttribute;

// Moves from to to in one step, failing with EEXIST instead of replacing
// anything at to (a dangling symbolic link counts as taken). 0 or an errno.
[[nodiscard]] int renameExclusive(const std::filesystem::path& from,
                                  const std::filesystem::path& to) noexcept;
// The same, each name relative to an open directory (AT_FDCWD for none).
[[nodiscard]] int renameExclusiveAt(int fromDirectory, const char* from, int toDirectory,
                                    const char* to) noexcept;

// Copies a regular file to a new destination: its data (cloned where the file
// system can), mode, access and modification times and user extended
// attributes. Never follows a link at source or destination, and fails with
// EEXIST when destination exists; a destination it created is removed again
// when the copy fails. 0 or an errno (ELOOP for a link as source).
[[nodiscard]] int copyFileExclusive(const std::filesystem::path& source,
                                    const std::filesystem::path& destination) noexcept;
// The same, each name relative to an open directory. With keptOpen, the new
// file is handed over open for writing instead of closed. With
// readOwnUnreadable, a source of this user's whose mode forbids reading is
// read all the same (its mode is unchanged afterwards).
[[nodiscard]] int copyFileExclusiveAt(int sourceDirectory, const char* source,
                                      int destinationDirectory, const char* destination,
                                      int* keptOpen, bool readOwnUnreadable) noexcept;

// Bytes available to this user on the volume holding directory; 0 when the
// figure cannot be read.
std::uint64_t availableCapacity(const std::filesystem::path& directory) noexcept;

// The value of an extended attribute, following a final link. None when it is
// missing, empty or unreadable, or changed size while being read.
[[nodiscard]] std::optional<std::vector<std::byte>> readAttribute(const std::filesystem::path& path,
                                                                  const char* name) noexcept;

// Sets an extended attribute on a path (on a final link itself when noFollow)
// or on an open descriptor. 0 or an errno; ENOTSUP means the file system
// keeps no extended attributes. Linux refuses user attributes on links.
[[nodiscard]] int setAttribute(const std::filesystem::path& path, const char* name,
                               std::span<const std::byte> value, bool noFollow) noexcept;
[[nodiscard]] int setAttribute(int descriptor, const char* name,
                               std::span<const std::byte> value) noexcept;

// Reserves the blocks of the first size bytes of an open file without
// changing its size, so that large writes find their blocks in place; the
// reserved blocks past the end are released when the file is truncated to
// its size. 0 or an errno; EOPNOTSUPP when the file system cannot.
[[nodiscard]] int reserveBlocks(int descriptor, std::uint64_t size) noexcept;

// The process umask, read without changing it (other threads may be
// creating files meanwhile).
mode_t processUmask() noexcept;

}  // namespace tovani::FileSystemPlatform
