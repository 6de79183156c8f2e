// tovani_header_guard spots archive headers that are known to crash the
// installed UnRAR library, so that the bridge refuses the file instead of
// handing it over. It reads only the archive's first plain main header.
//
//   if (tovani::HeaderCrashesLibrary(path)) return TOVANI_NOT_AN_ARCHIVE;
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace tovani {

// True when the RAR 5 main header at the start of bytes (after an optional
// self-extractor stub) carries an archive-name metadata record of length 0:
// UnRAR 6.2 dereferences a null pointer on it while opening.
bool HeaderCrashesLibrary(std::span<const std::uint8_t> bytes) noexcept;

// The same test on a file: reads as much of its start as the library
// searches for a signature. False when the file cannot be read.
bool HeaderCrashesLibrary(const char* path) noexcept;

// The name the library gives the volume after fileName (name.part1.rar →
// name.part2.rar, name.rar → name.r00 → name.r01 …, name.r99 → name.s00);
// empty when the name follows neither scheme.
std::string NextVolumeName(const std::string& fileName);

// HeaderCrashesLibrary on the file and on every further volume of its set
// that exists beside it, in the order the library would open them.
bool SetCrashesLibrary(const char* path) noexcept;

}  // namespace tovani
