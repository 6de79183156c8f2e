// SplitVolumes names the parts of an archive cut into pieces byte by byte
// (name.7z.001, name.7z.002, …, as 7-Zip and file splitters write them):
// read one after the other they are the archive, so every reading starts at
// the first part and uses them all. Only firstVolume and volumesFrom look at
// the disk.
//
//   SplitVolumes::firstVolumeName("photos.7z.003");    // "photos.7z.001"
//   SplitVolumes::nextVolumeName("photos.zip.099");    // "photos.zip.100"
//   SplitVolumes::firstVolumeName("photos.7z");        // nullopt
//   SplitVolumes::volumesFrom("/data/photos.7z.001");  // .001, .002, … while they exist
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovani::SplitVolumes {

// Whether fileName (last component only) is a part of a split set: NAME.NNN
// with three digits or more, not all zeros, and a NAME that is not empty.
[[nodiscard]] bool isPartName(std::string_view fileName);

// The first part's file name, the number set to 1 with its width kept
// (photos.7z.0042 gives photos.7z.0001); nullopt for a name that is no part.
[[nodiscard]] std::optional<std::string> firstVolumeName(std::string_view fileName);

// The next part's file name, the number counted up and widened only when it
// overflows (999 gives 1000); nullopt for a name that is no part.
[[nodiscard]] std::optional<std::string> nextVolumeName(std::string_view fileName);

// The first part's file for any part; file unchanged when it is no part. The
// result may not exist.
[[nodiscard]] std::filesystem::path firstVolume(const std::filesystem::path& file);

// volume, then each following part that exists, in order, up to the first
// one that does not.
[[nodiscard]] std::vector<std::filesystem::path> volumesFrom(const std::filesystem::path& volume);

}  // namespace tovani::SplitVolumes
