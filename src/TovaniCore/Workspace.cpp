#include "TovaniCore/Workspace.h"

#include <sys/stat.h>

#include <array>
#include <cstdint>
#include <random>
#include <system_error>

#include "TovaniCore/ExtractionError.h"

namespace tovani {

namespace fs = std::filesystem;

std::string makeUuidText() {
    std::random_device device;
    std::array<std::uint8_t, 16> bytes{};
    for (std::size_t i = 0; i < bytes.size(); i += 4) {
        std::uint32_t word = device();
        for (std::size_t j = 0; j < 4; ++j) {
            bytes[i + j] = static_cast<std::uint8_t>(word >> (8 * j));
        }
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);

    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(36);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            text.push_back('-');
        }
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 0x0F]);
    }
    return text;
}

Workspace Workspace::create(const fs::path& destination) {
    // Linux has no item-replacement directory: the workspace always lives in
    // the destination itself, which guarantees the same volume.
    fs::path path = destination / (std::string(namePrefix) + makeUuidText());
    if (::mkdir(path.c_str(), 0700) != 0) {
        throw ExtractionError::destinationNotWritable(destination);
    }
    return Workspace(std::move(path));
}

Workspace::Workspace(Workspace&& other) noexcept : path_(std::move(other.path_)) {
    other.path_.clear();
}

Workspace::~Workspace() {
    if (!path_.empty()) {
        remove(path_);
    }
}

void Workspace::remove(const fs::path& workspace) noexcept {
    try {
        std::error_code ec;
        // Archive modes may leave directories the owner cannot enter or
        // empty; open them first so that removal reaches everything.
        ::chmod(workspace.c_str(), 0700);
        for (auto it = fs::recursive_directory_iterator(workspace, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            std::error_code kindError;
            if (it->is_directory(kindError) && !it->is_symlink(kindError)) {
                ::chmod(it->path().c_str(), 0700);
            }
        }
        fs::remove_all(workspace, ec);
    } catch (...) {
        // Clean-up never reports failure.
    }
}

}  // namespace tovani
