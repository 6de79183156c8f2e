#include "App/ExtractionOutcome.h"

#include <utility>

namespace tovani {

ExtractionOutcome::ExtractionOutcome(std::variant<ExtractionResult, std::exception_ptr> value)
    : value_(std::move(value)) {}

ExtractionOutcome ExtractionOutcome::success(ExtractionResult result) {
    return ExtractionOutcome(std::move(result));
}

ExtractionOutcome ExtractionOutcome::failure(std::exception_ptr error) {
    return ExtractionOutcome(std::move(error));
}

std::exception_ptr ExtractionOutcome::error() const {
    if (const auto* error = std::get_if<std::exception_ptr>(&value_)) {
        return *error;
    }
    return nullptr;
}

std::optional<ExtractionError> ExtractionOutcome::extractionError() const {
    const std::exception_ptr thrown = error();
    if (!thrown) {
        return std::nullopt;
    }
    try {
        std::rethrow_exception(thrown);
    } catch (const ExtractionError& failure) {
        return failure;
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace tovani
