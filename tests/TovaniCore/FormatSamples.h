// FormatSamples makes, at test time, one small archive or compressed file of
// each kind the library recognises, with the tools that write them for real
// (python3's zipfile, rar, 7z, bsdtar, gzip, bzip2, xz, lzma, zstd, lz4).
//
//   TempDirectory dir;
//   for (const FormatSample& sample : formatSamples()) {
//       fs::path file = sample.make(dir.path());  // e.g. dir / "sample.tar.zst"
//       EXPECT_EQ(ArchiveFormat::detect(file), sample.kind);
//   }
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "TovaniCore/ArchiveFormat.h"

namespace tovani::testing {

struct FormatSample {
    std::string label;
    ArchiveFormat::Kind kind;
    // Writes the sample into a directory and returns its file; throws
    // std::runtime_error with the tool's output when the tool fails.
    std::function<std::filesystem::path(const std::filesystem::path&)> make;
};

std::vector<FormatSample> formatSamples();

// A self-extracting RAR archive made by rar (a program with the archive
// behind it).
std::filesystem::path sfxSample(const std::filesystem::path& directory);

// Runs program with arguments in directory; throws std::runtime_error with
// its output unless it exits 0.
void runOrThrow(const std::filesystem::path& directory, const std::string& program,
                const std::vector<std::string>& arguments);

// A zip of one stored file, written by python3's zipfile.
std::filesystem::path writeZip(const std::filesystem::path& file, const std::string& entryName,
                               const std::string& contents);

// The 512-byte header of a tar of the 7th edition (no ustar magic) for a
// file of that name and size, with a correct checksum.
std::string oldTarHeader(const std::string& name, std::uint64_t size);

}  // namespace tovani::testing
