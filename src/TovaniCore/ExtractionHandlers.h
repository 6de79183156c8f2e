// ExtractionHandlers are the three callables an extraction calls back on the
// thread that runs it (a password question, unthrottled progress, and a
// cancellation probe), and the job's Cancellation, which also wakes every
// wait on the archive's reader.
//
//   Cancellation stop;
//   ExtractionHandlers handlers{
//       .password = [](const PasswordRequest&) { return std::optional<std::string>(); },
//       .progress = [](const ExtractionProgress&) {},
//       .cancellation = &stop};
//   // stop.cancel() from any thread or a signal handler ends the job
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "TovaniCore/Cancellation.h"
#include "TovaniCore/ExtractionProgress.h"
#include "TovaniCore/PasswordRequest.h"

namespace tovani {

struct ExtractionHandlers {
    // Returning nothing gives up: the extraction then fails as cancelled.
    std::function<std::optional<std::string>(const PasswordRequest&)> password;
    std::function<void(const ExtractionProgress&)> progress;
    // Polled between steps; the job also stops once it returns true.
    std::function<bool()> isCancelled;
    // Not owned; must outlive the extraction. Null never cancels.
    const Cancellation* cancellation = nullptr;
};

}  // namespace tovani
