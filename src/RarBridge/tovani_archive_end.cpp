#include "RarBridge/tovani_archive_end.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

namespace tovani {

namespace {

constexpr std::array<std::uint8_t, 7> kRar4Signature = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
constexpr std::array<std::uint8_t, 8> kRar5Signature = {0x52, 0x61, 0x72, 0x21,
                                                        0x1A, 0x07, 0x01, 0x00};
// The library looks this far into a file for a signature (self-extractors).
constexpr std::uint64_t kSearchLimit = 0x200000;
constexpr std::size_t kWindowSize = 65536;
// Enough for every field read from the start of a block header.
constexpr std::size_t kHeaderPrefix = 64;

// RAR 5 block types and flags.
constexpr std::uint64_t kRar5Main = 1;
constexpr std::uint64_t kRar5Encryption = 4;
constexpr std::uint64_t kRar5End = 5;
constexpr std::uint64_t kRar5HasExtra = 0x0001;
constexpr std::uint64_t kRar5HasData = 0x0002;

// RAR 1.5-4.x block types and flags.
constexpr std::uint8_t kRar4Main = 0x73;
constexpr std::uint8_t kRar4File = 0x74;
constexpr std::uint8_t kRar4OldProtect = 0x78;
constexpr std::uint8_t kRar4OldSubBlock = 0x77;
constexpr std::uint8_t kRar4Service = 0x7A;
constexpr std::uint8_t kRar4End = 0x7B;
constexpr unsigned kRar4EncryptedHeaders = 0x0080;
constexpr unsigned kRar4LargeSizes = 0x0100;
constexpr unsigned kRar4LongBlock = 0x8000;
// The first version needed by entries of RAR 3.x, whose tools always end
// an archive with the record.
constexpr unsigned kRar4VersionWithEndRecord = 29;

// Reads a file through one window, so that walking the headers of many
// small entries costs one read per window rather than one per header.
class WindowReader {
public:
    explicit WindowReader(const char* path)
        : descriptor_(::open(path, O_RDONLY | O_CLOEXEC)), window_(kWindowSize) {
        struct stat status {};
        if (descriptor_ >= 0 && ::fstat(descriptor_, &status) == 0) {
            size_ = static_cast<std::uint64_t>(status.st_size);
            valid_ = true;
        }
    }
    ~WindowReader() {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
        }
    }
    WindowReader(const WindowReader&) = delete;
    WindowReader& operator=(const WindowReader&) = delete;

    bool valid() const { return valid_; }
    std::uint64_t size() const { return size_; }

    // Up to want bytes from position (fewer at the end of the file); empty
    // when nothing can be read there.
    std::span<const std::uint8_t> at(std::uint64_t position, std::size_t want) {
        if (position >= size_) {
            return {};
        }
        want = static_cast<std::size_t>(std::min<std::uint64_t>(want, size_ - position));
        if (position < start_ || position + want > start_ + filled_) {
            filled_ = 0;
            start_ = position;
            while (filled_ < window_.size()) {
                const ssize_t n =
                    ::pread(descriptor_, window_.data() + filled_, window_.size() - filled_,
                            static_cast<off_t>(start_ + filled_));
                if (n <= 0) {
                    break;
                }
                filled_ += static_cast<std::size_t>(n);
            }
        }
        const std::size_t offset = static_cast<std::size_t>(position - start_);
        if (offset >= filled_) {
            return {};
        }
        return {window_.data() + offset, std::min(want, filled_ - offset)};
    }

private:
    int descriptor_;
    std::vector<std::uint8_t> window_;
    std::uint64_t start_ = 0;
    std::size_t filled_ = 0;
    std::uint64_t size_ = 0;
    bool valid_ = false;
};

class FieldReader {
public:
    explicit FieldReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::optional<std::uint64_t> vint(std::size_t* length = nullptr) {
        std::uint64_t value = 0;
        const std::size_t start = at_;
        for (unsigned shift = 0; shift < 64 && at_ < bytes_.size(); shift += 7) {
            const std::uint8_t byte = bytes_[at_++];
            value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
            if ((byte & 0x80) == 0) {
                if (length != nullptr) {
                    *length = at_ - start;
                }
                return value;
            }
        }
        return std::nullopt;
    }
    void skip(std::size_t count) { at_ = std::min(bytes_.size(), at_ + count); }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

std::uint32_t Le16(const std::uint8_t* p) {
    return p[0] | (static_cast<std::uint32_t>(p[1]) << 8);
}

std::uint32_t Le32(const std::uint8_t* p) {
    return p[0] | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// next = base + add, or none when it overflows or passes the file's end.
std::optional<std::uint64_t> Advance(std::uint64_t base, std::uint64_t add, std::uint64_t size) {
    if (add > size || base > size - add) {
        return std::nullopt;
    }
    return base + add;
}

EndRecord WalkRar5(WindowReader& file, std::uint64_t position) {
    // Every block takes at least 7 bytes, so the walk ends.
    for (;;) {
        const std::span<const std::uint8_t> header = file.at(position, kHeaderPrefix);
        if (header.size() < 7) {
            return EndRecord::missing;
        }
        FieldReader fields(header);
        fields.skip(4);  // header CRC
        std::size_t sizeLength = 0;
        const auto headerSize = fields.vint(&sizeLength);
        if (!headerSize || *headerSize == 0 || sizeLength > 3) {
            return EndRecord::missing;
        }
        const auto type = fields.vint();
        const auto flags = fields.vint();
        if (!type || !flags) {
            return EndRecord::missing;
        }
        if (*type == kRar5Encryption) {
            return EndRecord::unknown;
        }
        const auto headerEnd = Advance(position + 4 + sizeLength, *headerSize, file.size());
        if (!headerEnd) {
            return EndRecord::missing;
        }
        if (*type == kRar5End) {
            return EndRecord::present;
        }
        std::uint64_t dataSize = 0;
        if ((*flags & kRar5HasExtra) != 0 && !fields.vint()) {
            return EndRecord::missing;
        }
        if ((*flags & kRar5HasData) != 0) {
            const auto size = fields.vint();
            if (!size) {
                return EndRecord::missing;
            }
            dataSize = *size;
        }
        const auto next = Advance(*headerEnd, dataSize, file.size());
        if (!next) {
            return EndRecord::missing;
        }
        position = *next;
    }
}

EndRecord WalkRar4(WindowReader& file, std::uint64_t position) {
    unsigned newestVersion = 0;
    for (;;) {
        if (position == file.size()) {
            return newestVersion < kRar4VersionWithEndRecord ? EndRecord::present
                                                             : EndRecord::missing;
        }
        const std::span<const std::uint8_t> header = file.at(position, kHeaderPrefix);
        if (header.size() < 7) {
            return EndRecord::missing;
        }
        const std::uint8_t type = header[2];
        const unsigned flags = Le16(&header[3]);
        const unsigned headerSize = Le16(&header[5]);
        if (headerSize < 7 || header.size() < std::min<std::size_t>(headerSize, 40)) {
            return EndRecord::missing;
        }
        if (type == kRar4Main && (flags & kRar4EncryptedHeaders) != 0) {
            return EndRecord::unknown;
        }
        if (type == kRar4End) {
            return Advance(position, headerSize, file.size()) ? EndRecord::present
                                                              : EndRecord::missing;
        }
        std::uint64_t dataSize = 0;
        if (type == kRar4File || type == kRar4Service) {
            if (headerSize < 32) {
                return EndRecord::missing;
            }
            dataSize = Le32(&header[7]);
            if ((flags & kRar4LargeSizes) != 0) {
                if (headerSize < 40) {
                    return EndRecord::missing;
                }
                dataSize |= static_cast<std::uint64_t>(Le32(&header[32])) << 32;
            }
            if (type == kRar4File) {
                newestVersion = std::max<unsigned>(newestVersion, header[24]);
            }
        } else if (type == kRar4OldProtect || type == kRar4OldSubBlock ||
                   (flags & kRar4LongBlock) != 0) {
            if (headerSize < 11) {
                return EndRecord::missing;
            }
            dataSize = Le32(&header[7]);
        }
        const auto next = Advance(position, headerSize + dataSize, file.size());
        if (!next) {
            return EndRecord::missing;
        }
        position = *next;
    }
}

}  // namespace

ArchiveFormat FormatOf(const char* path) noexcept {
    const int descriptor = ::open(path, O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return ArchiveFormat::unknown;
    }
    std::array<std::uint8_t, kRar5Signature.size()> start{};
    const ssize_t n = ::pread(descriptor, start.data(), start.size(), 0);
    ::close(descriptor);
    if (n == static_cast<ssize_t>(kRar5Signature.size()) && start == kRar5Signature) {
        return ArchiveFormat::rar5;
    }
    if (n >= static_cast<ssize_t>(kRar4Signature.size()) &&
        std::equal(kRar4Signature.begin(), kRar4Signature.end(), start.begin())) {
        return ArchiveFormat::rar4;
    }
    return ArchiveFormat::unknown;
}

namespace {

// The first signature within the library's search limit: its format and the
// position of the first block after it.
struct Start {
    ArchiveFormat format = ArchiveFormat::unknown;
    std::uint64_t firstBlock = 0;
};

Start FindStart(WindowReader& file) {
    // Windows overlap by a signature's length so none is missed.
    const std::uint64_t step = kWindowSize - kRar5Signature.size();
    for (std::uint64_t offset = 0; offset <= kSearchLimit && offset < file.size(); offset += step) {
        const std::span<const std::uint8_t> bytes = file.at(offset, kWindowSize);
        for (std::size_t i = 0; i + kRar4Signature.size() <= bytes.size(); ++i) {
            if (bytes[i] != 0x52 || std::memcmp(&bytes[i], kRar4Signature.data(), 6) != 0) {
                continue;
            }
            const std::uint64_t found = offset + i;
            if (bytes[i + 6] == 0x00) {
                return {ArchiveFormat::rar4, found + kRar4Signature.size()};
            }
            if (bytes[i + 6] == 0x01 && i + 7 < bytes.size() && bytes[i + 7] == 0x00) {
                return {ArchiveFormat::rar5, found + kRar5Signature.size()};
            }
        }
    }
    return {};
}

}  // namespace

EndRecord FindEndRecord(const char* path) noexcept {
    try {
        WindowReader file(path);
        if (!file.valid()) {
            return EndRecord::unknown;
        }
        const Start start = FindStart(file);
        switch (start.format) {
            case ArchiveFormat::rar4:
                return WalkRar4(file, start.firstBlock);
            case ArchiveFormat::rar5:
                return WalkRar5(file, start.firstBlock);
            default:
                return EndRecord::unknown;
        }
    } catch (...) {
        return EndRecord::unknown;
    }
}

MainHeader FindMainHeader(const char* path) noexcept {
    try {
        WindowReader file(path);
        if (!file.valid()) {
            return MainHeader::unknown;
        }
        const Start start = FindStart(file);
        const std::span<const std::uint8_t> header = file.at(start.firstBlock, kHeaderPrefix);
        if (start.format == ArchiveFormat::rar4) {
            return header.size() >= 3 && header[2] == kRar4Main ? MainHeader::present
                                                                : MainHeader::missing;
        }
        if (start.format == ArchiveFormat::rar5) {
            FieldReader fields(header);
            fields.skip(4);  // header CRC
            const bool sized = header.size() >= 4 && fields.vint().has_value();
            const auto type = fields.vint();
            return sized && type && (*type == kRar5Main || *type == kRar5Encryption)
                       ? MainHeader::present
                       : MainHeader::missing;
        }
        return MainHeader::unknown;
    } catch (...) {
        return MainHeader::unknown;
    }
}

}  // namespace tovani
