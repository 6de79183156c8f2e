// ArchiveInfo holds the archive-wide flags of an opened archive file.
//
//   ArchiveInfo info{.isVolume = true, .isFirstVolume = false};
//   bool needsFirstVolume = info.isVolume && !info.isFirstVolume;
#pragma once

namespace tovani {

struct ArchiveInfo {
    bool isVolume = false;
    bool isFirstVolume = false;
    bool isSolid = false;
    bool hasEncryptedHeaders = false;

    bool operator==(const ArchiveInfo&) const = default;
};

}  // namespace tovani
