// ErrorPresenter shows the outcome of a job to the user in modal alerts: the
// failure alert (which, for an unwritable destination, offers to choose
// another folder and runs the folder dialog) and the skipped-entries alert.
//
//   if (auto folder = ErrorPresenter::present(error, archive)) {
//       options.destinationDirectory = *folder;  // and extract again there
//   }
//   ErrorPresenter::presentSkipped(result.skipped(), archive);  // nothing when empty
#pragma once

#include <exception>
#include <filesystem>
#include <optional>
#include <vector>

#include "TovaniCore/SkippedEntry.h"

namespace tovani::ErrorPresenter {

// Shows the failure alert for the archive (its first volume). Returns the
// folder the user chose in the folder dialog, or nothing: always nothing
// unless the error is an unwritable destination.
std::optional<std::filesystem::path> present(const std::exception& error,
                                             const std::filesystem::path& archive);

// Shows the skipped-entries alert when skipped is not empty.
void presentSkipped(const std::vector<SkippedEntry>& skipped, const std::filesystem::path& archive);

}  // namespace tovani::ErrorPresenter
