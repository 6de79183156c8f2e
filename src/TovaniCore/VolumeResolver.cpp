#include "TovaniCore/VolumeResolver.h"

#include "TovaniCore/NameMatching.h"

namespace tovani::VolumeResolver {

namespace {

// NAME.part<digits>.rar: the digits must be the whole run before ".rar",
// since the character ahead of them has to be the "t" of ".part".
std::optional<std::string> numberedFirstVolume(std::string_view name) {
    using namespace NameMatching;
    constexpr std::string_view suffix = ".rar";
    constexpr std::string_view part = ".part";
    if (!endsWithIgnoringCase(name, suffix)) {
        return std::nullopt;
    }
    std::string_view rest = name.substr(0, name.size() - suffix.size());
    std::size_t digits = trailingDigits(rest);
    if (digits == 0) {
        return std::nullopt;
    }
    std::string_view stem = rest.substr(0, rest.size() - digits);
    if (!endsWithIgnoringCase(stem, part)) {
        return std::nullopt;
    }
    std::string result(stem);
    result.append(digits - 1, '0');
    result += '1';
    result += name.substr(name.size() - suffix.size());
    return result;
}

// NAME.[r-z]<digit><digit>.
std::optional<std::string> letteredFirstVolume(std::string_view name) {
    if (name.size() < 4) {
        return std::nullopt;
    }
    std::string_view tail = name.substr(name.size() - 4);
    char letter = tail[1];
    bool upper = letter >= 'R' && letter <= 'Z';
    bool lower = letter >= 'r' && letter <= 'z';
    if (tail[0] != '.' || !(upper || lower) || !NameMatching::isDigit(tail[2]) ||
        !NameMatching::isDigit(tail[3])) {
        return std::nullopt;
    }
    std::string result(name.substr(0, name.size() - 3));
    result += upper ? "RAR" : "rar";
    return result;
}

}  // namespace

std::optional<std::string> firstVolumeName(std::string_view fileName) {
    if (auto numbered = numberedFirstVolume(fileName)) {
        return numbered;
    }
    return letteredFirstVolume(fileName);
}

std::filesystem::path firstVolume(const std::filesystem::path& file) {
    std::string name = file.filename().string();
    std::optional<std::string> first = firstVolumeName(name);
    if (!first || *first == name) {
        return file;
    }
    std::filesystem::path result = file;
    result.replace_filename(*first);
    return result;
}

}  // namespace tovani::VolumeResolver
