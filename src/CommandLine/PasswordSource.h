// PasswordSource answers one archive's password questions for
// ostrel-extract: the password file answers the first request; anything
// further is asked on the terminal when standard input is one.
//
//   PasswordSource passwords(filePassword);
//   handlers.password = [&](const PasswordRequest& r) { return passwords.answer(r); };
//   if (passwords.wasUnanswered()) { /* report "needs a password" */ }
//   if (passwords.wasRefused()) { /* report "incorrect password" instead */ }
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "TovaniCore/PasswordRequest.h"

namespace tovani {

class PasswordSource {
public:
    using Prompt = std::function<std::optional<std::string>(const PasswordRequest&)>;

    // prompt: none when there is no terminal to ask on.
    PasswordSource(std::optional<std::string> filePassword, Prompt prompt)
        : filePassword_(std::move(filePassword)), prompt_(std::move(prompt)) {}

    std::optional<std::string> answer(const PasswordRequest& request);

    // True once a request went without a password.
    bool wasUnanswered() const { return unanswered_; }
    // True when the request that went without a password followed a
    // password the archive refused: the password given was wrong.
    bool wasRefused() const { return refused_; }

private:
    std::optional<std::string> filePassword_;
    Prompt prompt_;
    bool asked_ = false;
    bool unanswered_ = false;
    bool refused_ = false;
};

// The first line of a file, without its line break; none when unreadable.
std::optional<std::string> firstLineOf(const std::string& file);

}  // namespace tovani
