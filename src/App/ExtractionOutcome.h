// ExtractionOutcome is how one extraction job ended: the ExtractionResult, or
// the exception the extractor threw (an ExtractionError, or the platform's
// std::filesystem::filesystem_error when the staging directory cannot be
// listed). The exception is kept whole so that the alert can be built from it.
//
//   if (const ExtractionResult* result = outcome.result()) {
//       reveal(result->output());
//   } else if (outcome.extractionError() != ExtractionError::cancelled()) {
//       ErrorPresenter::present(outcome.error(), archive);
//   }
#pragma once

#include <exception>
#include <optional>
#include <variant>

#include "TovaniCore/ExtractionError.h"
#include "TovaniCore/ExtractionResult.h"

namespace tovani {

class ExtractionOutcome {
public:
    static ExtractionOutcome success(ExtractionResult result);
    // error must not be null.
    static ExtractionOutcome failure(std::exception_ptr error);

    bool succeeded() const { return std::holds_alternative<ExtractionResult>(value_); }
    // Null on failure.
    const ExtractionResult* result() const { return std::get_if<ExtractionResult>(&value_); }
    // Null on success; std::rethrow_exception gives back the thrown object.
    std::exception_ptr error() const;
    // The failure when it is an ExtractionError; absent on success and for
    // any other exception.
    [[nodiscard]] std::optional<ExtractionError> extractionError() const;

private:
    explicit ExtractionOutcome(std::variant<ExtractionResult, std::exception_ptr> value);

    std::variant<ExtractionResult, std::exception_ptr> value_;
};

}  // namespace tovani
