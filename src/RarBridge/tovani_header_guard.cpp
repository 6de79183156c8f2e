#include "RarBridge/tovani_header_guard.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

namespace tovani {

namespace {

constexpr std::array<std::uint8_t, 8> kRar5Signature = {0x52, 0x61, 0x72, 0x21,
                                                        0x1A, 0x07, 0x01, 0x00};
// The library looks this far into a file for a signature (self-extractors).
constexpr std::size_t kSearchLimit = 0x200000;
constexpr std::uint64_t kMainHeader = 1;
constexpr std::uint64_t kHasExtraArea = 0x0001;
constexpr std::uint64_t kHasDataArea = 0x0002;
constexpr std::uint64_t kMetadataRecord = 0x02;
constexpr std::uint64_t kMetadataHasName = 0x01;

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::optional<std::uint64_t> vint() {
        std::uint64_t value = 0;
        for (unsigned shift = 0; shift < 64 && at_ < bytes_.size(); shift += 7) {
            const std::uint8_t byte = bytes_[at_++];
            value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
            if ((byte & 0x80) == 0) {
                return value;
            }
        }
        return std::nullopt;
    }
    bool skip(std::uint64_t count) {
        if (count > bytes_.size() - at_) {
            return false;
        }
        at_ += count;
        return true;
    }
    std::size_t position() const { return at_; }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

bool RecordsCrashLibrary(std::span<const std::uint8_t> extra) {
    Reader records(extra);
    while (records.position() < extra.size()) {
        const auto size = records.vint();
        const std::size_t start = records.position();
        if (!size || *size == 0 || *size > extra.size() - start) {
            return false;
        }
        Reader record(extra.subspan(start, *size));
        const auto type = record.vint();
        if (type == kMetadataRecord) {
            const auto flags = record.vint();
            if (flags && (*flags & kMetadataHasName) != 0) {
                const auto nameSize = record.vint();
                if (nameSize == 0u) {
                    return true;
                }
            }
        }
        records.skip(*size);
    }
    return false;
}

}  // namespace

bool HeaderCrashesLibrary(std::span<const std::uint8_t> bytes) noexcept {
    const auto found =
        std::search(bytes.begin(), bytes.end(), kRar5Signature.begin(), kRar5Signature.end());
    if (found == bytes.end()) {
        return false;
    }
    const std::span<const std::uint8_t> after =
        bytes.subspan(static_cast<std::size_t>(found - bytes.begin()) + kRar5Signature.size());
    Reader block(after);
    if (!block.skip(4)) {  // header CRC: the library reads on past a wrong one
        return false;
    }
    const auto headerSize = block.vint();
    const std::size_t headerStart = block.position();
    const auto type = block.vint();
    const auto flags = block.vint();
    if (!headerSize || type != kMainHeader || !flags || (*flags & kHasExtraArea) == 0) {
        return false;
    }
    const auto extraSize = block.vint();
    if (!extraSize || ((*flags & kHasDataArea) != 0 && !block.vint())) {
        return false;
    }
    const auto archiveFlags = block.vint();
    if (!archiveFlags || ((*archiveFlags & 0x0002) != 0 && !block.vint())) {  // volume number
        return false;
    }
    // The extra area closes the header.
    if (*headerSize > after.size() - headerStart) {
        return false;
    }
    const std::size_t headerEnd = headerStart + static_cast<std::size_t>(*headerSize);
    if (block.position() > headerEnd || *extraSize > headerEnd - block.position()) {
        return false;
    }
    const std::size_t extraStart = headerEnd - static_cast<std::size_t>(*extraSize);
    return RecordsCrashLibrary(after.subspan(extraStart, static_cast<std::size_t>(*extraSize)));
}

bool HeaderCrashesLibrary(const char* path) noexcept {
    try {
        const int descriptor = ::open(path, O_RDONLY | O_CLOEXEC);
        if (descriptor < 0) {
            return false;
        }
        // Most archives start with their signature; only a self-extractor
        // needs the long search.
        std::vector<std::uint8_t> start;
        std::size_t filled = 0;
        for (std::size_t limit : {std::size_t{65536}, kSearchLimit + 65536}) {
            start.resize(limit);
            while (filled < start.size()) {
                const ssize_t n = ::read(descriptor, start.data() + filled, start.size() - filled);
                if (n <= 0) {
                    break;
                }
                filled += static_cast<std::size_t>(n);
            }
            if (filled < start.size() ||
                std::equal(kRar5Signature.begin(), kRar5Signature.end(), start.begin(),
                           start.begin() + std::min(filled, kRar5Signature.size()))) {
                break;
            }
        }
        ::close(descriptor);
        return HeaderCrashesLibrary(std::span<const std::uint8_t>(start.data(), filled));
    } catch (...) {
        return false;
    }
}

std::string NextVolumeName(const std::string& fileName) {
    auto lower = [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); };
    auto endsWith = [&](const std::string& suffix) {
        if (fileName.size() < suffix.size()) {
            return false;
        }
        for (std::size_t i = 0; i < suffix.size(); ++i) {
            if (lower(fileName[fileName.size() - suffix.size() + i]) != suffix[i]) {
                return false;
            }
        }
        return true;
    };
    std::string next = fileName;
    if (endsWith(".rar")) {
        // name.partN.rar counts up N, keeping its width until it overflows.
        std::size_t digitsEnd = next.size() - 4;
        std::size_t digitsStart = digitsEnd;
        while (digitsStart > 0 && next[digitsStart - 1] >= '0' && next[digitsStart - 1] <= '9') {
            --digitsStart;
        }
        if (digitsStart < digitsEnd && digitsStart >= 5 && lower(next[digitsStart - 5]) == '.' &&
            lower(next[digitsStart - 4]) == 'p' && lower(next[digitsStart - 3]) == 'a' &&
            lower(next[digitsStart - 2]) == 'r' && lower(next[digitsStart - 1]) == 't') {
            std::size_t i = digitsEnd;
            while (i > digitsStart && next[i - 1] == '9') {
                next[--i] = '0';
            }
            if (i == digitsStart) {
                next = next.substr(0, digitsStart) + '1' + next.substr(digitsStart);
            } else {
                ++next[i - 1];
            }
            return next;
        }
        // Old style: name.rar is followed by name.r00.
        next[next.size() - 2] = '0';
        next[next.size() - 1] = '0';
        return next;
    }
    const std::size_t n = next.size();
    if (n >= 4 && next[n - 4] == '.' && next[n - 2] >= '0' && next[n - 2] <= '9' &&
        next[n - 1] >= '0' && next[n - 1] <= '9') {
        if (next[n - 1] != '9') {
            ++next[n - 1];
        } else if (next[n - 2] != '9') {
            next[n - 1] = '0';
            ++next[n - 2];
        } else {
            next[n - 1] = '0';
            next[n - 2] = '0';
            ++next[n - 3];
        }
        return next;
    }
    return {};
}

bool SetCrashesLibrary(const char* path) noexcept {
    try {
        if (HeaderCrashesLibrary(path)) {
            return true;
        }
        std::string current(path);
        const std::size_t slash = current.rfind('/');
        const std::string directory =
            slash == std::string::npos ? std::string() : current.substr(0, slash + 1);
        std::string name = slash == std::string::npos ? current : current.substr(slash + 1);
        // Only a volume that exists is read by the library; the set ends at
        // the first gap. The bound keeps a hostile directory from looping.
        for (int volume = 0; volume < 100000; ++volume) {
            name = NextVolumeName(name);
            if (name.empty()) {
                return false;
            }
            const std::string next = directory + name;
            if (::access(next.c_str(), F_OK) != 0) {
                return false;
            }
            if (HeaderCrashesLibrary(next.c_str())) {
                return true;
            }
        }
        return false;
    } catch (...) {
        return false;
    }
}

}  // namespace tovani
