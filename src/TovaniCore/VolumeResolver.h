// VolumeResolver maps any volume of a multi-volume RAR set to the set's first
// volume, and a volume to the one after it, purely from the naming schemes
// RAR uses. Only volumesFrom and firstVolume look at the disk.
//
//   VolumeResolver::firstVolume("/data/Movie.part02.rar");  // "/data/Movie.part01.rar"
//   VolumeResolver::firstVolume("/data/set.004.rar");       // "/data/set.000.rar" if there
//   VolumeResolver::firstVolumeName("movie.r05");           // "movie.rar"
//   VolumeResolver::firstVolumeName("movie.zip");           // nullopt
//   VolumeResolver::nextVolumeName("movie.part9.rar");      // "movie.part10.rar"
//   VolumeResolver::volumesFrom("/data/movie.rar");         // movie.rar, movie.r00, …
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "TovaniCore/Export.h"

namespace tovani::VolumeResolver {

// The file of the set's first volume, or file unchanged when its name follows
// no scheme or already is the first volume. The result may not exist. A
// NAME.NNN.rar set starts at NAME.000.rar when that file exists, else at
// NAME.001.rar.
[[nodiscard]] TOVANI_EXPORT std::filesystem::path firstVolume(const std::filesystem::path& file);

// The first volume's file name for a volume's file name (last component only):
// NAME.partN.rar keeps the width of N and becomes NAME.part0…1.rar, and so
// does NAME.NNN.rar (three digits or more) unless NNN is all zeros, which
// starts a set itself; NAME.r00 to NAME.z99 become NAME.rar (NAME.RAR when the letter is upper
// case). Matching ignores ASCII letter case and keeps the case of the name; NAME may hold any
// character, line breaks included. Any other name gives nullopt.
[[nodiscard]] TOVANI_EXPORT std::optional<std::string> firstVolumeName(std::string_view fileName);

// The file name of the volume that follows fileName, as the library names it:
// NAME.partN.rar and NAME.NNN.rar count the number up, keeping its width
// until it overflows (part9 → part10, 999 → 1000); NAME.rar is followed by NAME.r00, NAME.r99 by
// NAME.s00, up to NAME.z99. Any other name, and NAME.z99, give nullopt.
[[nodiscard]] TOVANI_EXPORT std::optional<std::string> nextVolumeName(std::string_view fileName);

// volume, then each following volume of its set that exists, in order, up to
// the first one that does not. These are the only files a reading of the set
// that starts at volume may use.
[[nodiscard]] TOVANI_EXPORT std::vector<std::filesystem::path> volumesFrom(
    const std::filesystem::path& volume);

}  // namespace tovani::VolumeResolver
