#include "CommandLine/PasswordSource.h"

#include <fstream>

namespace tovani {

std::optional<std::string> PasswordSource::answer(const PasswordRequest& request) {
    const bool first = !asked_;
    asked_ = true;
    std::optional<std::string> password;
    if (first && filePassword_) {
        password = filePassword_;
    } else if (prompt_) {
        password = prompt_(request);
    }
    if (!password) {
        unanswered_ = true;
        refused_ = request.isRetry;
    }
    return password;
}

std::optional<std::string> firstLineOf(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string line;
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

}  // namespace tovani
