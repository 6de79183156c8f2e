// The examples at the top of the UI headers, as written there: they must
// compile against the code they describe. Building this file is the test.
#include <gtest/gtest.h>

#include "TovaniCore/ExtractionOptions.h"
#include "UI/ErrorPresenter.h"

namespace tovani {
namespace {

TEST(HeaderExamplesTest, TheErrorPresenterExampleCompiles) {
    [[maybe_unused]] auto example =
        [](const std::exception& error, const std::filesystem::path& archive,
           ExtractionOptions& options, const std::vector<SkippedEntry>& skipped) {
            if (auto folder = ErrorPresenter::present(error, archive)) {
                options.destinationDirectory = *folder;  // and extract again there
            }
            ErrorPresenter::presentSkipped(skipped, archive);  // nothing when empty
        };
}

}  // namespace
}  // namespace tovani
