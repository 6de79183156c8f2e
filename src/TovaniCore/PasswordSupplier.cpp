#include "TovaniCore/PasswordSupplier.h"

namespace tovani {

void PasswordSupplier::answer(const ExtractionError& error) {
    if (error.is<ExtractionError::PasswordRequired>()) {
        ask(retry_);
    } else if (error.is<ExtractionError::WrongPassword>()) {
        ask(true);
        retry_ = true;
    } else {
        throw error;
    }
}

void PasswordSupplier::ensurePassword() {
    if (!password_) {
        ask(false);
    }
}

void PasswordSupplier::ask(bool isRetry) {
    std::optional<std::string> answer =
        ask_ ? ask_(PasswordRequest{archiveName_, isRetry}) : std::nullopt;
    if (!answer) {
        throw ExtractionError::cancelled();
    }
    password_ = std::move(answer);
}

}  // namespace tovani
