// ExtractionHandlers are the three callables an extraction calls back on the
// thread that runs it: a password question, unthrottled progress, and a
// cancellation probe.
//
//   ExtractionHandlers handlers{
//       .password = [](const PasswordRequest&) { return std::optional<std::string>(); },
//       .progress = [](const ExtractionProgress&) {},
//       .isCancelled = [] { return false; }};
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "TovaniCore/ExtractionProgress.h"
#include "TovaniCore/PasswordRequest.h"

namespace tovani {

struct ExtractionHandlers {
    // Returning nothing gives up: the extraction then fails as cancelled.
    std::function<std::optional<std::string>(const PasswordRequest&)> password;
    std::function<void(const ExtractionProgress&)> progress;
    std::function<bool()> isCancelled;
};

}  // namespace tovani
