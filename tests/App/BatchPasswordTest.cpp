#include "App/BatchPassword.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tovani {
namespace {

class BatchPasswordTest : public ::testing::Test {
protected:
    std::optional<std::string> request(const std::string& archive, bool isRetry,
                                       std::optional<std::string> typed) {
        return passwords.answer({archive, isRetry}, [&](const PasswordRequest& shown) {
            asked.push_back(shown);
            return typed;
        });
    }

    BatchPassword passwords;
    std::vector<PasswordRequest> asked;
};

TEST_F(BatchPasswordTest, APasswordThatOpenedAnArchiveIsOfferedOnceOnTheNext) {
    passwords.jobStarted();
    EXPECT_EQ(request("a.rar", false, "pw"), "pw");
    passwords.jobSucceeded();

    passwords.jobStarted();
    EXPECT_EQ(request("b.rar", false, "never asked"), "pw");
    EXPECT_EQ(asked.size(), 1u);
    // Refused: the user is asked, as for a first request.
    EXPECT_EQ(request("b.rar", true, "pw2"), "pw2");
    EXPECT_EQ(request("b.rar", true, "pw3"), "pw3");
    EXPECT_EQ(asked,
              (std::vector<PasswordRequest>{{"a.rar", false}, {"b.rar", false}, {"b.rar", true}}));
    passwords.jobSucceeded();

    // The latest password that worked is the one offered.
    passwords.jobStarted();
    EXPECT_EQ(request("c.rar", false, "x"), "pw3");
}

TEST_F(BatchPasswordTest, OnlyAPasswordThatOpenedAnArchiveIsKeptAndTheBatchEndWipesIt) {
    passwords.jobStarted();
    request("a.rar", false, "wrong");
    passwords.jobFailed();
    EXPECT_FALSE(passwords.remembers());

    passwords.jobStarted();
    request("a.rar", false, std::nullopt);  // declined
    passwords.jobSucceeded();
    EXPECT_FALSE(passwords.remembers());

    passwords.jobStarted();
    request("b.rar", false, "right");
    passwords.jobSucceeded();
    EXPECT_TRUE(passwords.remembers());
    passwords.batchEnded();
    EXPECT_FALSE(passwords.remembers());

    passwords.jobStarted();
    EXPECT_EQ(request("c.rar", false, "asked"), "asked");
}

TEST(WipeSecret, OverwritesTheCharactersWhereTheyLay) {
    for (const std::size_t size : {std::size_t(5), std::size_t(40)}) {  // short and heap strings
        std::string secret(size, 's');
        const char* storage = secret.data();
        wipe(secret);
        EXPECT_TRUE(secret.empty());
        // clear() keeps the buffer, so the old characters can be looked at.
        EXPECT_EQ(secret.data(), storage);
        EXPECT_EQ(std::string(storage, size), std::string(size, '\0'));
    }
}

}  // namespace
}  // namespace tovani
