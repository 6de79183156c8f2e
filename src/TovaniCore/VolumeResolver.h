// VolumeResolver maps any volume of a multi-volume RAR set to the set's first
// volume, purely from the naming schemes RAR uses. It never looks at the disk.
//
//   VolumeResolver::firstVolume("/data/Movie.part02.rar");  // "/data/Movie.part01.rar"
//   VolumeResolver::firstVolumeName("movie.r05");           // "movie.rar"
//   VolumeResolver::firstVolumeName("movie.zip");           // nullopt
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tovani::VolumeResolver {

// The file of the set's first volume, or file unchanged when its name follows
// neither scheme or already is the first volume. The result may not exist.
std::filesystem::path firstVolume(const std::filesystem::path& file);

// The first volume's file name for a volume's file name (last component only):
// NAME.partN.rar keeps the width of N and becomes NAME.part0…1.rar; NAME.r00 to
// NAME.z99 become NAME.rar (NAME.RAR when the letter is upper case). Matching
// ignores ASCII letter case and keeps the case of the name; NAME may hold any
// character, line breaks included. Any other name gives nullopt.
std::optional<std::string> firstVolumeName(std::string_view fileName);

}  // namespace tovani::VolumeResolver
