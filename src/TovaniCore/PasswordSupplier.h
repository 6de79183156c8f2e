// PasswordSupplier asks the caller for passwords during one extraction and
// keeps the one retry flag shared by listing and extraction: once any
// password was rejected, every later question is a retry.
//
//   PasswordSupplier passwords(handlers.password, "movie.part1.rar");
//   try { listing = engine.list(source, passwords.current()); }
//   catch (const ExtractionError& e) { passwords.answer(e); }  // or rethrows e
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "TovaniCore/ExtractionError.h"
#include "TovaniCore/PasswordRequest.h"

namespace tovani {

class PasswordSupplier {
public:
    using Ask = std::function<std::optional<std::string>(const PasswordRequest&)>;

    PasswordSupplier(Ask ask, std::string archiveName)
        : ask_(std::move(ask)), archiveName_(std::move(archiveName)) {}

    const std::optional<std::string>& current() const { return password_; }

    // After passwordRequired or wrongPassword: obtains a new password, or
    // throws cancelled when the caller gives up. Any other error is rethrown.
    void answer(const ExtractionError& error);

    // Asks once, as a first request, unless a password is already known.
    void ensurePassword();

private:
    void ask(bool isRetry);

    Ask ask_;
    std::string archiveName_;
    std::optional<std::string> password_;
    bool retry_ = false;
};

}  // namespace tovani
