#include "TovaniCore/DestinationPlanner.h"

#include <algorithm>
#include <optional>

#include "TovaniCore/NameMatching.h"
#include "TovaniCore/SplitVolumes.h"

namespace tovani::DestinationPlanner {

namespace {

using namespace NameMatching;

// NAME.rar or NAME.[r-z]<digit><digit>: both suffixes are the last four
// characters, so the stem is whatever comes before them.
std::string_view withoutArchiveSuffix(std::string_view name) {
    if (name.size() < 4 || name[name.size() - 4] != '.') {
        return name;
    }
    std::string_view tail = name.substr(name.size() - 3);
    char letter = asciiLower(tail[0]);
    bool lettered = letter >= 'r' && letter <= 'z' && isDigit(tail[1]) && isDigit(tail[2]);
    if (lettered || endsWithIgnoringCase(tail, "rar")) {
        return name.substr(0, name.size() - 4);
    }
    return name;
}

// A name ending in suffix (lower-case ASCII) without it; nullopt otherwise.
std::optional<std::string_view> without(std::string_view name, std::string_view suffix) {
    if (!endsWithIgnoringCase(name, suffix)) {
        return std::nullopt;
    }
    return name.substr(0, name.size() - suffix.size());
}

// One compressed file's suffix (notes.txt.gz is notes.txt compressed), then
// the container it may hold (photos.tar.gz); or one container's suffix,
// short forms of compressed tars included.
std::string_view withoutOtherArchiveSuffix(std::string_view name) {
    constexpr std::string_view compressions[] = {".gz", ".bz2", ".xz", ".lzma", ".zst", ".lz4"};
    constexpr std::string_view containers[] = {".zip",  ".7z",  ".tar", ".cpio", ".tgz",
                                               ".tbz2", ".tbz", ".txz", ".tzst"};
    for (std::string_view compression : compressions) {
        if (const auto stem = without(name, compression)) {
            for (std::string_view inner : {std::string_view(".tar"), std::string_view(".cpio")}) {
                if (const auto innerStem = without(*stem, inner)) {
                    return *innerStem;
                }
            }
            return *stem;
        }
    }
    for (std::string_view container : containers) {
        if (const auto stem = without(name, container)) {
            return *stem;
        }
    }
    return name;
}

// NAME.part<digits>: the digits must be the whole trailing run.
std::string_view withoutPartSuffix(std::string_view name) {
    constexpr std::string_view part = ".part";
    std::size_t digits = trailingDigits(name);
    if (digits == 0) {
        return name;
    }
    std::string_view rest = name.substr(0, name.size() - digits);
    if (!endsWithIgnoringCase(rest, part)) {
        return name;
    }
    return rest.substr(0, rest.size() - part.size());
}

// The longest name most Linux file systems store, in bytes.
constexpr std::size_t kMaxNameBytes = 255;

// text cut to at most size bytes, never inside a UTF-8 character.
std::string_view cutOnCharacter(std::string_view text, std::size_t size) {
    if (text.size() <= size) {
        return text;
    }
    while (size > 0 && (static_cast<unsigned char>(text[size]) & 0xC0) == 0x80) {
        --size;
    }
    return text.substr(0, size);
}

// Position of the period that starts the extension, or npos for none.
std::size_t extensionPeriod(std::string_view name) {
    std::size_t period = name.rfind('.');
    if (period == std::string_view::npos || period + 1 == name.size()) {
        return std::string_view::npos;
    }
    if (name.find_first_not_of('.') > period) {
        return std::string_view::npos;
    }
    return period;
}

}  // namespace

std::string folderName(std::string_view archiveName) {
    std::string_view stem = archiveName;
    // A set cut byte by byte is named after what was cut (photos.7z.001).
    if (SplitVolumes::isPartName(stem)) {
        stem = stem.substr(0, stem.rfind('.'));
    }
    const std::string_view withoutRar = withoutArchiveSuffix(stem);
    stem = withoutRar.size() != stem.size() ? withoutRar : withoutOtherArchiveSuffix(stem);
    stem = withoutPartSuffix(stem);
    // A hidden output would not show where the user looks for it, and could
    // be taken for configuration (".ssh" from ".ssh.rar").
    stem.remove_prefix(std::min(stem.size(), stem.find_first_not_of('.')));
    if (stem.empty()) {
        return "Archive";
    }
    return std::string(stem);
}

std::string candidateName(std::string_view name, bool isDirectory, std::int64_t attempt) {
    if (attempt < 2) {
        return std::string(name);
    }
    const std::size_t period = isDirectory ? std::string_view::npos : extensionPeriod(name);
    std::string_view stem = name.substr(0, period);
    std::string_view extension =
        period == std::string_view::npos ? std::string_view() : name.substr(period);
    const std::string number = " " + std::to_string(attempt);
    if (stem.size() + number.size() + extension.size() > kMaxNameBytes) {
        // An extension too long to keep is cut with the rest of the name.
        if (number.size() + extension.size() >= kMaxNameBytes) {
            stem = name;
            extension = {};
        }
        stem = cutOnCharacter(stem, kMaxNameBytes - number.size() - extension.size());
    }
    return std::string(stem) + number + std::string(extension);
}

std::string uniqueName(std::string_view name, bool isDirectory,
                       const std::function<bool(const std::string&)>& isTaken) {
    for (std::int64_t attempt = 1;; ++attempt) {
        std::string candidate = candidateName(name, isDirectory, attempt);
        if (!isTaken(candidate)) {
            return candidate;
        }
    }
}

}  // namespace tovani::DestinationPlanner
