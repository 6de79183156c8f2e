// ExtractionOptions are the caller's choices for one extraction. Equal
// options let the queue recognise a repeated request.
//
//   ExtractionOptions options{.alwaysCreateFolder = false,
//                             .destinationDirectory = "/home/me/Out"};
#pragma once

#include <filesystem>
#include <optional>

namespace tovani {

struct ExtractionOptions {
    // True: the output always goes into a folder named after the archive.
    bool alwaysCreateFolder = false;
    // Absent: the directory that holds the archive.
    std::optional<std::filesystem::path> destinationDirectory;

    bool operator==(const ExtractionOptions&) const = default;
};

}  // namespace tovani
