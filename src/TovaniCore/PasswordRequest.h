// PasswordRequest is what an extraction asks when it needs a password.
//
//   handlers.password = [](const PasswordRequest& r) -> std::optional<std::string> {
//       return r.isRetry ? std::nullopt : std::optional<std::string>("secret");
//   };
#pragma once

#include <string>

namespace tovani {

struct PasswordRequest {
    // File name of the archive (its first volume when that exists).
    std::string archiveName;
    // True once a password given earlier in this extraction was rejected.
    bool isRetry = false;

    bool operator==(const PasswordRequest&) const = default;
};

}  // namespace tovani
