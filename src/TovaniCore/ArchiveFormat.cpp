#include "TovaniCore/ArchiveFormat.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <vector>

#include "TovaniCore/ExtractionError.h"

namespace tovani::ArchiveFormat {

namespace {

using Bytes = std::span<const std::byte>;

bool startsWith(Bytes data, std::string_view signature) {
    if (data.size() < signature.size()) {
        return false;
    }
    return std::equal(
        signature.begin(), signature.end(), data.begin(), [](char expected, std::byte actual) {
            return static_cast<unsigned char>(expected) == std::to_integer<unsigned char>(actual);
        });
}

unsigned char at(Bytes data, std::size_t index) {
    return std::to_integer<unsigned char>(data[index]);
}

std::uint64_t littleEndian(Bytes data, std::size_t offset, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = size; i > 0; --i) {
        value = (value << 8) | at(data, offset + i - 1);
    }
    return value;
}

using namespace std::string_view_literals;

// RAR 1.5 to 4 ends its signature with 0, RAR 5 with 1 and one more 0; 2 to 4
// mark formats announced for later, which the RAR library names itself.
bool isRarSignature(Bytes data) {
    if (!startsWith(data, "Rar!\x1a\x07"sv) || data.size() < 7) {
        return false;
    }
    const unsigned char version = at(data, 6);
    if (version == 1) {
        return data.size() >= 8 && at(data, 7) == 0;
    }
    return version <= 4;
}

// The old RAR 1.4 signature.
bool isOldRarSignature(Bytes data) {
    return startsWith(data, "RE~^"sv);
}

bool isBzip2(Bytes data) {
    if (data.size() < 10 || !startsWith(data, "BZh"sv) || at(data, 3) < '1' || at(data, 3) > '9') {
        return false;
    }
    const Bytes block = data.subspan(4);
    // A first block, or the end of an empty stream.
    return startsWith(block, "\x31\x41\x59\x26\x53\x59"sv) ||
           startsWith(block, "\x17\x72\x45\x38\x50\x90"sv);
}

// An octal number in a tar header field: leading spaces, digits, then only
// spaces or NULs. At least one digit.
std::optional<std::uint64_t> octalField(Bytes field) {
    std::size_t i = 0;
    while (i < field.size() && at(field, i) == ' ') {
        ++i;
    }
    std::uint64_t value = 0;
    std::size_t digits = 0;
    for (; i < field.size() && at(field, i) >= '0' && at(field, i) <= '7'; ++i, ++digits) {
        value = value * 8 + (at(field, i) - '0');
    }
    if (digits == 0) {
        return std::nullopt;
    }
    for (; i < field.size(); ++i) {
        if (at(field, i) != ' ' && at(field, i) != 0) {
            return std::nullopt;
        }
    }
    return value;
}

// A tar header without the ustar magic (the 7th edition's): a name, an octal
// size, and a checksum that matches the header's bytes, summed as unsigned
// or, as some old writers did, signed.
bool isOldTarHeader(Bytes header) {
    constexpr std::size_t checksumAt = 148;
    constexpr std::size_t checksumSize = 8;
    if (header.size() < startSize || at(header, 0) == 0 || !octalField(header.subspan(124, 12))) {
        return false;
    }
    const std::optional<std::uint64_t> stated =
        octalField(header.subspan(checksumAt, checksumSize));
    if (!stated) {
        return false;
    }
    std::uint64_t unsignedSum = 0;
    std::int64_t signedSum = 0;
    for (std::size_t i = 0; i < startSize; ++i) {
        const bool inChecksum = i >= checksumAt && i < checksumAt + checksumSize;
        const unsigned char byte = inChecksum ? ' ' : at(header, i);
        unsignedSum += byte;
        signedSum += static_cast<signed char>(byte);
    }
    return *stated == unsignedSum || static_cast<std::int64_t>(*stated) == signedSum;
}

bool isUstar(Bytes data) {
    return data.size() >= startSize && startsWith(data.subspan(257), "ustar"sv) &&
           (at(data, 262) == 0 || at(data, 262) == ' ');
}

// The lzma tool's format has no magic; its header is judged as libarchive
// judges it: a properties byte in range, a dictionary size lzma writes, and
// the range coder's first byte, which is always 0.
bool isLzmaAlone(Bytes data) {
    if (data.size() < 14 || at(data, 0) > (4 * 5 + 4) * 9 + 8 || at(data, 13) != 0) {
        return false;
    }
    const std::uint64_t dictionary = littleEndian(data, 1, 4);
    const std::uint64_t size = littleEndian(data, 5, 8);
    const bool powerOfTwo = (dictionary & (dictionary - 1)) == 0 && dictionary >= (1u << 12) &&
                            dictionary <= (1u << 27);
    // A dictionary cut to whole MiB when memory ran short while packing.
    const bool cutToMegabytes = at(data, 0) == 0x5d && size == ~std::uint64_t{0} &&
                                dictionary >= (3u << 20) && dictionary <= (63u << 20) &&
                                dictionary % (1u << 20) == 0;
    return powerOfTwo || cutToMegabytes;
}

// RAR's library looks past the program of a self-extracting archive for a
// signature in the 2 MiB after the first 7 bytes (less 16); so does this, so
// that every file the RAR engine opened before still reaches it. A RAR 1.4
// signature there counts only with that format's own mark at offset 28.
constexpr std::size_t kRarSearchStart = 7;
constexpr std::size_t kRarSearchEnd = kRarSearchStart + 2 * 1024 * 1024 - 16;

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Up to size bytes from offset; fewer only at the file's end.
std::vector<std::byte> readAt(int fd, std::uint64_t offset, std::size_t size) {
    std::vector<std::byte> buffer(size);
    std::size_t filled = 0;
    while (filled < size) {
        const ssize_t count =
            ::pread(fd, buffer.data() + filled, size - filled, static_cast<off_t>(offset + filled));
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            throw ExtractionError::cannotOpen();
        }
        if (count == 0) {
            break;
        }
        filled += static_cast<std::size_t>(count);
    }
    buffer.resize(filled);
    return buffer;
}

bool hasRarBehindProgram(int fd, Bytes start) {
    const bool oldRarMark = start.size() >= 32 && startsWith(start.subspan(28), "RSFX"sv);
    constexpr std::size_t chunk = 64 * 1024;
    // Each chunk repeats the last bytes of the one before, so that a
    // signature across the border is seen whole; the byte after the searched
    // range is read too, as RAR 5's signature is one byte longer.
    constexpr std::size_t overlap = 8;
    for (std::size_t offset = kRarSearchStart; offset < kRarSearchEnd; offset += chunk - overlap) {
        const std::size_t wanted = std::min(chunk, kRarSearchEnd + 1 - offset);
        const std::vector<std::byte> data = readAt(fd, offset, wanted);
        const Bytes view(data);
        for (std::size_t i = 0; i < view.size(); ++i) {
            const std::size_t inRange = kRarSearchEnd - std::min(kRarSearchEnd, offset + i);
            if (at(view, i) != 'R' || inRange < 4) {
                continue;
            }
            const Bytes candidate = view.subspan(i);
            if ((inRange >= 7 && isRarSignature(candidate)) ||
                (oldRarMark && isOldRarSignature(candidate))) {
                return true;
            }
        }
        if (data.size() < wanted) {
            break;
        }
    }
    return false;
}

}  // namespace

std::optional<Kind> fromStart(Bytes start) {
    if (isRarSignature(start) || isOldRarSignature(start)) {
        return Kind::rar;
    }
    if (startsWith(start, "PK\x03\x04"sv) || startsWith(start, "PK\x05\x06"sv) ||
        startsWith(start, "PK00PK\x03\x04"sv)) {
        // PK00 marks a zip that was to be spread over several files but fit in one.
        return Kind::zip;
    }
    if (startsWith(start, "PK\x07\x08"sv)) {
        return Kind::spannedZip;
    }
    if (startsWith(start, "7z\xbc\xaf\x27\x1c"sv)) {
        return Kind::sevenZip;
    }
    if (startsWith(start, "\xfd\x37\x7a\x58\x5a\x00"sv)) {
        return Kind::xz;
    }
    if (startsWith(start, "\x28\xb5\x2f\xfd"sv)) {
        return Kind::zstd;
    }
    // The frame format, and the legacy one the lz4 tool still reads.
    if (startsWith(start, "\x04\x22\x4d\x18"sv) || startsWith(start, "\x02\x21\x4c\x18"sv)) {
        return Kind::lz4;
    }
    if (startsWith(start, "\x1f\x8b\x08"sv)) {
        return Kind::gzip;
    }
    if (isBzip2(start)) {
        return Kind::bzip2;
    }
    if (startsWith(start, "070707"sv) || startsWith(start, "070701"sv) ||
        startsWith(start, "070702"sv)) {
        return Kind::cpio;
    }
    if (isUstar(start) || isOldTarHeader(start)) {
        return Kind::tar;
    }
    // The binary cpio header, in either byte order; it is 26 bytes long.
    if (start.size() >= 26 &&
        (startsWith(start, "\xc7\x71"sv) || startsWith(start, "\x71\xc7"sv))) {
        return Kind::cpio;
    }
    if (isLzmaAlone(start)) {
        return Kind::lzma;
    }
    return std::nullopt;
}

Kind detect(const std::filesystem::path& file) {
    using Reason = ExtractionError::VolumeUnreadable::Reason;
    const std::string fileName = file.filename().string();
    // stat() opens nothing: a pipe or device is refused before any open
    // could block on it or wake it.
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        throw ExtractionError::cannotOpen();
    }
    if (!S_ISREG(info.st_mode)) {
        throw ExtractionError::volumeUnreadable(fileName, Reason::notAFile);
    }
    // Non-blocking, in case the name now leads to a pipe: the second look,
    // at what was opened, refuses it without a read.
    const Descriptor fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) {
        throw ExtractionError::cannotOpen();
    }
    if (::fstat(fd.get(), &info) != 0) {
        throw ExtractionError::cannotOpen();
    }
    if (!S_ISREG(info.st_mode)) {
        throw ExtractionError::volumeUnreadable(fileName, Reason::notAFile);
    }
    const std::vector<std::byte> start = readAt(fd.get(), 0, startSize);
    if (const std::optional<Kind> kind = fromStart(start)) {
        return *kind;
    }
    if (hasRarBehindProgram(fd.get(), start)) {
        return Kind::rar;
    }
    throw ExtractionError::notAnArchive();
}

std::string_view name(Kind kind) {
    switch (kind) {
        case Kind::rar:
            return "rar";
        case Kind::zip:
            return "zip";
        case Kind::spannedZip:
            return "spanned zip";
        case Kind::sevenZip:
            return "7z";
        case Kind::tar:
            return "tar";
        case Kind::cpio:
            return "cpio";
        case Kind::gzip:
            return "gzip";
        case Kind::bzip2:
            return "bzip2";
        case Kind::xz:
            return "xz";
        case Kind::lzma:
            return "lzma";
        case Kind::zstd:
            return "zstd";
        case Kind::lz4:
            return "lz4";
    }
    return "unknown";
}

}  // namespace tovani::ArchiveFormat
