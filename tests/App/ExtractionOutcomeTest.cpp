#include "App/ExtractionOutcome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <system_error>

namespace tovani {
namespace {

TEST(ExtractionOutcome, FailureKeepsTheThrownObject) {
    const ExtractionOutcome unsafe =
        ExtractionOutcome::failure(std::make_exception_ptr(ExtractionError::unsafePath("../x")));
    EXPECT_FALSE(unsafe.succeeded());
    EXPECT_EQ(unsafe.result(), nullptr);
    EXPECT_EQ(unsafe.extractionError(), ExtractionError::unsafePath("../x"));

    const std::filesystem::filesystem_error platform(
        "cannot list", "/tmp/stage", std::make_error_code(std::errc::permission_denied));
    const ExtractionOutcome listing = ExtractionOutcome::failure(std::make_exception_ptr(platform));
    EXPECT_EQ(listing.extractionError(), std::nullopt);
    try {
        std::rethrow_exception(listing.error());
    } catch (const std::filesystem::filesystem_error& error) {
        EXPECT_EQ(error.code(), std::make_error_code(std::errc::permission_denied));
        EXPECT_EQ(error.path1(), "/tmp/stage");
    }
}

}  // namespace
}  // namespace tovani
