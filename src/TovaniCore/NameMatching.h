// NameMatching holds the small text tests shared by the file-name rules:
// ASCII-only case folding (names are UTF-8, and only ASCII letters appear in
// the suffixes matched) and trailing digit runs.
//
//   NameMatching::endsWithIgnoringCase("Movie.RAR", ".rar");  // true
//   NameMatching::trailingDigits("set.part012");              // 3
#pragma once

#include <cstddef>
#include <string_view>

namespace tovani::NameMatching {

inline bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

inline char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// Whether text ends with suffix, where suffix is lower-case ASCII.
inline bool endsWithIgnoringCase(std::string_view text, std::string_view suffix) {
    if (text.size() < suffix.size()) {
        return false;
    }
    std::string_view tail = text.substr(text.size() - suffix.size());
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        if (asciiLower(tail[i]) != suffix[i]) {
            return false;
        }
    }
    return true;
}

// Number of decimal digits at the end of text.
inline std::size_t trailingDigits(std::string_view text) {
    std::size_t count = 0;
    while (count < text.size() && isDigit(text[text.size() - 1 - count])) {
        ++count;
    }
    return count;
}

}  // namespace tovani::NameMatching
