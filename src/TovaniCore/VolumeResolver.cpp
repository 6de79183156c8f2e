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

std::optional<std::string> nextVolumeName(std::string_view fileName) {
    using namespace NameMatching;
    std::string next(fileName);
    if (endsWithIgnoringCase(fileName, ".rar")) {
        const std::size_t digitsEnd = next.size() - 4;
        const std::size_t digits = trailingDigits(std::string_view(next).substr(0, digitsEnd));
        const std::size_t digitsStart = digitsEnd - digits;
        if (digits > 0 &&
            endsWithIgnoringCase(std::string_view(next).substr(0, digitsStart), ".part")) {
            std::size_t i = digitsEnd;
            while (i > digitsStart && next[i - 1] == '9') {
                next[--i] = '0';
            }
            if (i == digitsStart) {
                next.insert(digitsStart, 1, '1');
            } else {
                ++next[i - 1];
            }
            return next;
        }
        // NAME.rar starts the lettered scheme; the letter keeps its case.
        next[next.size() - 2] = '0';
        next[next.size() - 1] = '0';
        return next;
    }
    if (!letteredFirstVolume(fileName)) {
        return std::nullopt;
    }
    const std::size_t n = next.size();
    if (next[n - 1] != '9') {
        ++next[n - 1];
    } else if (next[n - 2] != '9') {
        ++next[n - 2];
        next[n - 1] = '0';
    } else if (asciiLower(next[n - 3]) != 'z') {
        ++next[n - 3];
        next[n - 2] = '0';
        next[n - 1] = '0';
    } else {
        return std::nullopt;
    }
    return next;
}

std::vector<std::filesystem::path> volumesFrom(const std::filesystem::path& volume) {
    std::vector<std::filesystem::path> volumes{volume};
    for (;;) {
        std::optional<std::string> next = nextVolumeName(volumes.back().filename().string());
        if (!next) {
            break;
        }
        std::filesystem::path file = volume;
        file.replace_filename(*next);
        std::error_code error;
        if (!std::filesystem::exists(file, error)) {
            break;
        }
        volumes.push_back(std::move(file));
    }
    return volumes;
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
