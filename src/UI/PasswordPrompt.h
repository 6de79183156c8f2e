// PasswordPrompt asks the user for the password of an encrypted archive in a
// modal dialog with a masked field, and returns the text exactly as typed, or
// nothing when the user declines. An empty confirmation asks again.
//
//   std::optional<std::string> password =
//       PasswordPrompt::run(PasswordRequest{.archiveName = "a.rar", .isRetry = false});
#pragma once

#include <optional>
#include <string>

#include "TovaniCore/PasswordRequest.h"

namespace tovani::PasswordPrompt {

// Main thread only; returns once a non-empty password was confirmed (UTF-8)
// or the dialog was declined.
std::optional<std::string> run(const PasswordRequest& request);

}  // namespace tovani::PasswordPrompt
