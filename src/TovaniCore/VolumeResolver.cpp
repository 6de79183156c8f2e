#include "TovaniCore/VolumeResolver.h"

#include "TovaniCore/NameMatching.h"

namespace tovani::VolumeResolver {

namespace {

// Where the volume number sits in NAME.part<digits>.rar or NAME.<digits>.rar:
// the digits must be the whole run before ".rar", and the character ahead of
// them the "t" of ".part" or a period. After a bare period it takes three
// digits at least, as splitters write them: "notes.2.rar" beside
// "notes.1.rar" are far more often two archives than one set, and taking the
// one opened for a later volume would extract the other.
struct VolumeNumber {
    std::size_t start = 0;
    std::size_t size = 0;
    bool afterPeriod = false;
};

std::optional<VolumeNumber> volumeNumber(std::string_view name) {
    using namespace NameMatching;
    constexpr std::string_view suffix = ".rar";
    if (!endsWithIgnoringCase(name, suffix)) {
        return std::nullopt;
    }
    std::string_view rest = name.substr(0, name.size() - suffix.size());
    const std::size_t digits = trailingDigits(rest);
    if (digits == 0) {
        return std::nullopt;
    }
    std::string_view stem = rest.substr(0, rest.size() - digits);
    if (endsWithIgnoringCase(stem, ".part")) {
        return VolumeNumber{stem.size(), digits, false};
    }
    if (digits >= 3 && !stem.empty() && stem.back() == '.') {
        return VolumeNumber{stem.size(), digits, true};
    }
    return std::nullopt;
}

bool isAllZeros(std::string_view digits) {
    return digits.find_first_not_of('0') == std::string_view::npos;
}

// The name with its volume number replaced by 0...01 (the library's first
// volume), or by 0...0 when zero is asked for, keeping the number's width.
std::string withNumber(std::string_view name, const VolumeNumber& number, bool zero) {
    std::string result(name);
    result.replace(number.start, number.size, std::string(number.size, '0'));
    if (!zero) {
        result[number.start + number.size - 1] = '1';
    }
    return result;
}

std::optional<std::string> numberedFirstVolume(std::string_view name) {
    const std::optional<VolumeNumber> number = volumeNumber(name);
    if (!number) {
        return std::nullopt;
    }
    // A NAME.000.rar set starts at zero; the library counts up from there.
    if (number->afterPeriod && isAllZeros(name.substr(number->start, number->size))) {
        return std::string(name);
    }
    return withNumber(name, *number, false);
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
        if (const std::optional<VolumeNumber> number = volumeNumber(fileName)) {
            const std::size_t digitsStart = number->start;
            std::size_t i = digitsStart + number->size;
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
    // NAME.<digits>.rar sets start at 0...0 or at 0...01; only the disk tells.
    if (const std::optional<VolumeNumber> number = volumeNumber(name);
        number && number->afterPeriod) {
        std::filesystem::path zero = file;
        zero.replace_filename(withNumber(name, *number, true));
        std::error_code error;
        if (std::filesystem::exists(zero, error)) {
            return zero;
        }
    }
    std::optional<std::string> first = firstVolumeName(name);
    if (!first || *first == name) {
        return file;
    }
    std::filesystem::path result = file;
    result.replace_filename(*first);
    return result;
}

}  // namespace tovani::VolumeResolver
