// TOVANI_EXPORT marks what libTovaniCore shows to its users. The library is
// built with hidden visibility, so only marked classes (with their vtables
// and type information) and functions are exported; everything else stays
// internal and may change without notice.
//
//   class TOVANI_EXPORT Extractor { ... };
//   TOVANI_EXPORT std::filesystem::path firstVolume(const std::filesystem::path& file);
#pragma once

#define TOVANI_EXPORT __attribute__((visibility("default")))
