// ExtractionResult is what a successful extraction leaves: where the output
// is, which links were refused, the archive's volume files, and the
// confinement layers its reader ran without. Only the
// Extractor makes one.
//
//   ExtractionResult r = extractor.extract(archive, options, handlers);
//   std::cout << r.output() << '\n';
#pragma once

#include <filesystem>
#include <utility>
#include <vector>

#include "TovaniCore/MissingConfinement.h"
#include "TovaniCore/SkippedEntry.h"

namespace tovani {

class Extractor;

class ExtractionResult {
public:
    const std::filesystem::path& output() const { return output_; }
    const std::vector<SkippedEntry>& skipped() const { return skipped_; }
    const std::vector<std::filesystem::path>& archiveFiles() const { return archiveFiles_; }
    const MissingConfinement& missingConfinement() const { return missingConfinement_; }

    bool operator==(const ExtractionResult&) const = default;

private:
    friend class Extractor;
    ExtractionResult(std::filesystem::path output, std::vector<SkippedEntry> skipped,
                     std::vector<std::filesystem::path> archiveFiles,
                     MissingConfinement missingConfinement)
        : output_(std::move(output)),
          skipped_(std::move(skipped)),
          archiveFiles_(std::move(archiveFiles)),
          missingConfinement_(missingConfinement) {}

    std::filesystem::path output_;
    std::vector<SkippedEntry> skipped_;
    std::vector<std::filesystem::path> archiveFiles_;
    MissingConfinement missingConfinement_;
};

}  // namespace tovani
