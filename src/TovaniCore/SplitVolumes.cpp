#include "TovaniCore/SplitVolumes.h"

#include <system_error>

#include "TovaniCore/NameMatching.h"

namespace tovani::SplitVolumes {

namespace {

// Where the part number starts, when fileName is a part.
std::optional<std::size_t> numberStart(std::string_view fileName) {
    const std::size_t digits = NameMatching::trailingDigits(fileName);
    if (digits < 3 || digits + 2 > fileName.size()) {
        return std::nullopt;
    }
    const std::size_t start = fileName.size() - digits;
    if (fileName[start - 1] != '.' || fileName.find_first_not_of('0', start) == std::string::npos) {
        return std::nullopt;
    }
    return start;
}

}  // namespace

bool isPartName(std::string_view fileName) {
    return numberStart(fileName).has_value();
}

std::optional<std::string> firstVolumeName(std::string_view fileName) {
    const std::optional<std::size_t> start = numberStart(fileName);
    if (!start) {
        return std::nullopt;
    }
    std::string first(fileName.substr(0, *start));
    first.append(fileName.size() - *start - 1, '0');
    first += '1';
    return first;
}

std::optional<std::string> nextVolumeName(std::string_view fileName) {
    const std::optional<std::size_t> start = numberStart(fileName);
    if (!start) {
        return std::nullopt;
    }
    std::string next(fileName);
    std::size_t i = next.size();
    while (i > *start && next[i - 1] == '9') {
        next[--i] = '0';
    }
    if (i == *start) {
        next.insert(*start, 1, '1');
    } else {
        ++next[i - 1];
    }
    return next;
}

std::filesystem::path firstVolume(const std::filesystem::path& file) {
    const std::optional<std::string> first = firstVolumeName(file.filename().string());
    if (!first) {
        return file;
    }
    std::filesystem::path result = file;
    result.replace_filename(*first);
    return result;
}

std::vector<std::filesystem::path> volumesFrom(const std::filesystem::path& volume) {
    std::vector<std::filesystem::path> volumes{volume};
    for (;;) {
        const std::optional<std::string> next = nextVolumeName(volumes.back().filename().string());
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

}  // namespace tovani::SplitVolumes
