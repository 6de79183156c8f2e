// ArchiveFormat tells what kind of archive a file holds from its content,
// never from its name: a zip renamed .rar is a zip, and a text file named
// .zip is no archive. It reads the file's first bytes (a few hundred; up to
// 2 MiB only for a file no signature at its start names, where a RAR may sit
// behind a self-extracting program), and opens nothing but regular files.
//
//   switch (ArchiveFormat::detect("/tmp/photos.rar")) {
//       case ArchiveFormat::Kind::rar: ...          // the RAR engine reads it
//       case ArchiveFormat::Kind::spannedZip: ...   // a part of a set no engine reads
//       default: ...                                // libarchive reads it
//   }
//   // throws notAnArchive() for content no engine here reads
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>

namespace tovani::ArchiveFormat {

enum class Kind {
    rar,
    zip,
    // A segment of a zip spread over several files (name.z01, …, name.zip).
    spannedZip,
    sevenZip,
    tar,
    cpio,
    gzip,
    bzip2,
    xz,
    lzma,
    zstd,
    lz4,
};

// The kind of archive the file holds. Throws ExtractionError: volumeUnreadable
// (notAFile) for anything but a regular file (a pipe or device is never
// opened for reading, so nothing blocks), cannotOpen when it cannot be
// opened or read, notAnArchive for content no engine here reads. A symbolic
// link is followed, as the user opened it.
[[nodiscard]] Kind detect(const std::filesystem::path& file);

// The kind named by the bytes a file starts with (the whole file when it is
// shorter), without looking further in for a RAR behind a program.
[[nodiscard]] std::optional<Kind> fromStart(std::span<const std::byte> start);

// How many of a file's first bytes fromStart needs to decide.
inline constexpr std::size_t startSize = 512;

// A short lower-case name ("rar", "7z", "tar") for logs and test output.
[[nodiscard]] std::string_view name(Kind kind);

}  // namespace tovani::ArchiveFormat
