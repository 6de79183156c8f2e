// The Linux-only part of FileSystemPlatform, declared for its tests: the
// move renameExclusive falls back to on file systems that do not know
// RENAME_NOREPLACE (NFS among them).
//
//   int code = FileSystemPlatform::renameWithoutNoReplaceFlag(staging, destination / "Photos");
#pragma once

#include <filesystem>

namespace tovani::FileSystemPlatform {

// Never replaces: a non-directory moves by link() and unlink(), which fail
// with EEXIST for any existing name; a directory first claims the name with
// mkdir() and then renames onto that empty directory of its own. 0 or an
// errno; on failure the source stays where it was and no reservation is left.
[[nodiscard]] int renameWithoutNoReplaceFlag(const std::filesystem::path& from,
                                             const std::filesystem::path& to) noexcept;
// The same, each name relative to an open directory.
[[nodiscard]] int renameWithoutNoReplaceFlagAt(int fromDirectory, const char* from, int toDirectory,
                                               const char* to) noexcept;

}  // namespace tovani::FileSystemPlatform
