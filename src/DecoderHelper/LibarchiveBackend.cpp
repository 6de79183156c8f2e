#include "DecoderHelper/LibarchiveBackend.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <span>
#include <string_view>

#include "DecoderHelper/NameText.h"

namespace tovani {

namespace {

using DecoderProtocol::Container;
using DecoderProtocol::EntryKind;
using DecoderProtocol::Status;

// Bytes read from a volume at a time.
constexpr std::size_t kBlockSize = 128 * 1024;

// A stored zip of one entry whose UTF-8 name ("é") is flagged as such: run
// through the reader before confinement, so that whatever its name handling
// loads is loaded.
constexpr std::array<unsigned char, 103> kPreloadZip = {
    0x50, 0x4b, 0x03, 0x04, 0x14, 0x00, 0x00, 0x08, 0x00, 0x00, 0x70, 0x7b, 0x8a, 0x5d, 0x83,
    0x16, 0xdc, 0x8c, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,
    0xc3, 0xa9, 0x78, 0x50, 0x4b, 0x01, 0x02, 0x14, 0x03, 0x14, 0x00, 0x00, 0x08, 0x00, 0x00,
    0x70, 0x7b, 0x8a, 0x5d, 0x83, 0x16, 0xdc, 0x8c, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00,
    0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x01,
    0x00, 0x00, 0x00, 0x00, 0xc3, 0xa9, 0x50, 0x4b, 0x05, 0x06, 0x00, 0x00, 0x00, 0x00, 0x01,
    0x00, 0x01, 0x00, 0x30, 0x00, 0x00, 0x00, 0x21, 0x00, 0x00, 0x00, 0x00, 0x00,
};

// Registers exactly the formats and filters read here. A filter libarchive
// was built without falls back to starting an external program, which it
// announces with ARCHIVE_WARN: such a reader is not used at all (the system
// call filter would end the process at the first such archive anyway).
bool registerReaders(archive* reader) {
    using Register = int (*)(archive*);
    constexpr std::array<Register, 11> all = {
        archive_read_support_format_zip_seekable, archive_read_support_format_7zip,
        archive_read_support_format_tar,          archive_read_support_format_cpio,
        archive_read_support_format_raw,          archive_read_support_filter_gzip,
        archive_read_support_filter_bzip2,        archive_read_support_filter_xz,
        archive_read_support_filter_lzma,         archive_read_support_filter_zstd,
        archive_read_support_filter_lz4,
    };
    return std::all_of(all.begin(), all.end(),
                       [reader](Register add) { return add(reader) == ARCHIVE_OK; });
}

std::optional<Container> containerOf(int format) {
    switch (format & ARCHIVE_FORMAT_BASE_MASK) {
        case ARCHIVE_FORMAT_ZIP:
            return Container::zip;
        case ARCHIVE_FORMAT_7ZIP:
            return Container::sevenZip;
        case ARCHIVE_FORMAT_TAR:
            return Container::tar;
        case ARCHIVE_FORMAT_CPIO:
            return Container::cpio;
        case ARCHIVE_FORMAT_RAW:
            return Container::raw;
        default:
            return std::nullopt;
    }
}

bool mentions(const char* text, std::string_view what) {
    return text != nullptr && std::string_view(text).find(what) != std::string_view::npos;
}

// The entry's modification time as the protocol carries it.
std::optional<DecoderProtocol::Time> modificationTimeOf(archive_entry* entry) {
    if (archive_entry_mtime_is_set(entry) == 0) {
        return std::nullopt;
    }
    const long nanoseconds = archive_entry_mtime_nsec(entry);
    if (nanoseconds < 0 ||
        nanoseconds >= static_cast<long>(DecoderProtocol::kNanosecondsPerSecond)) {
        return std::nullopt;
    }
    return DecoderProtocol::Time{static_cast<std::int64_t>(archive_entry_mtime(entry)),
                                 static_cast<std::uint32_t>(nanoseconds)};
}

// A text libarchive holds in two forms: the bytes as stored where it has
// them, else its UTF-8 form.
std::optional<std::string> textOf(const char* stored, const char* utf8, Container container) {
    const char* bytes = stored != nullptr ? stored : utf8;
    if (bytes == nullptr) {
        return std::nullopt;
    }
    return NameText::toUtf8(
        bytes, container == Container::zip ? NameText::Legacy::cp437 : NameText::Legacy::latin1);
}

}  // namespace

LibarchiveBackend::~LibarchiveBackend() {
    if (archive_ != nullptr) {
        archive_read_free(archive_);
    }
    if (utf8_ != static_cast<locale_t>(0)) {
        if (uselocale(static_cast<locale_t>(0)) == utf8_) {
            uselocale(LC_GLOBAL_LOCALE);
        }
        freelocale(utf8_);
    }
}

void LibarchiveBackend::preload() {
    // Names are handled in a UTF-8 locale of this thread, whatever the
    // user's: converting between two UTF-8 forms needs no converter.
    utf8_ = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (utf8_ != static_cast<locale_t>(0)) {
        uselocale(utf8_);
    }
    archive* reader = archive_read_new();
    if (reader == nullptr) {
        return;
    }
    if (registerReaders(reader) &&
        archive_read_open_memory(reader, kPreloadZip.data(), kPreloadZip.size()) == ARCHIVE_OK) {
        archive_entry* entry = nullptr;
        while (archive_read_next_header(reader, &entry) == ARCHIVE_OK) {
            (void)archive_entry_pathname_utf8(entry);
            (void)archive_read_data_skip(reader);
        }
    }
    archive_read_free(reader);
}

Status LibarchiveBackend::open(const DecoderProtocol::Request& request,
                               DecoderProtocol::Opened& opened) {
    archive_ = archive_read_new();
    if (archive_ == nullptr) {
        return Status::outOfMemory;
    }
    if (!registerReaders(archive_)) {
        return Status::engineFailure;
    }
    if (request.password && !request.password->empty()) {
        if (archive_read_add_passphrase(archive_, request.password->c_str()) != ARCHIVE_OK) {
            return Status::engineFailure;
        }
        hasPassword_ = true;
    }
    volumes_ = request.volumes;
    std::vector<const char*> names;
    for (const std::string& volume : volumes_) {
        names.push_back(volume.c_str());
    }
    names.push_back(nullptr);
    if (archive_read_open_filenames(archive_, names.data(), kBlockSize) != ARCHIVE_OK) {
        const int code = archive_errno(archive_);
        if (code == ENOENT || code == EACCES || code == EPERM || code == EISDIR) {
            return Status::cannotOpen;
        }
        // The raw format takes any byte, but needs one: a compressed stream
        // that holds nothing is an empty file.
        if (mentions(archive_error_string(archive_), "Unrecognized archive format") &&
            archive_filter_count(archive_) >= 2 && archive_filter_code(archive_, 0) != 0) {
            container_ = Container::raw;
            emptyRaw_ = true;
            opened.container = container_;
            return Status::ok;
        }
        // Opening reads ahead: a compressed stream cut short fails here.
        return failure();
    }
    const int first = archive_read_next_header(archive_, &entry_);
    if (first < ARCHIVE_WARN && !(first == ARCHIVE_FAILED && hasHiddenTarget())) {
        const Status status = failure();
        // Nothing could be read at all: no format took the file.
        return status == Status::damaged && archive_format(archive_) == 0 ? Status::notAnArchive
                                                                          : status;
    }
    const std::optional<Container> container = containerOf(archive_format(archive_));
    if (!container) {
        return Status::notAnArchive;
    }
    // The raw format takes any bytes: only a compressed file is one.
    if (*container == Container::raw &&
        (archive_filter_count(archive_) < 2 || archive_filter_code(archive_, 0) == 0)) {
        return Status::notAnArchive;
    }
    container_ = *container;
    firstPending_ = true;
    firstAtEnd_ = first == ARCHIVE_EOF;
    const bool split = volumes_.size() > 1;
    opened.flags = {split, split, false, false};
    opened.container = container_;
    return Status::ok;
}

Status LibarchiveBackend::next(DecoderProtocol::EntryRecord& record, bool& atEnd) {
    if (emptyRaw_) {
        atEnd = emptyListed_;
        emptyListed_ = true;
        record.kind = EntryKind::file;
        record.unpackedSize = 0;
        return Status::ok;
    }
    int result = ARCHIVE_OK;
    if (firstPending_) {
        firstPending_ = false;
        result = firstAtEnd_ ? ARCHIVE_EOF : ARCHIVE_OK;
    } else {
        result = archive_read_next_header(archive_, &entry_);
    }
    atEnd = result == ARCHIVE_EOF;
    if (atEnd) {
        return endIsMarked() ? Status::ok : Status::damaged;
    }
    // A warning is about a name's conversion or an attribute left out;
    // anything worse ends the reading, but for one case: an encrypted zip
    // stores a link's target encrypted, which libarchive cannot read then.
    if (result < ARCHIVE_WARN && !(result == ARCHIVE_FAILED && hasHiddenTarget())) {
        return failure();
    }
    return recordOf(record);
}

Status LibarchiveBackend::recordOf(DecoderProtocol::EntryRecord& record) const {
    // This libarchive decrypts no 7z: no password can help, so none is asked for.
    if (container_ == Container::sevenZip && archive_entry_is_encrypted(entry_) != 0) {
        return Status::unsupportedEncryption;
    }
    const std::optional<std::string> name =
        textOf(archive_entry_pathname(entry_), archive_entry_pathname_utf8(entry_), container_);
    // The raw format's one entry has no name of its own: the engine names it.
    if (container_ != Container::raw) {
        if (!name) {
            return Status::damaged;
        }
        record.name = *name;
    }
    const char* hardLink = archive_entry_hardlink(entry_);
    const mode_t type = archive_entry_filetype(entry_);
    if (hardLink != nullptr) {
        record.kind = EntryKind::hardLink;
        record.target =
            textOf(hardLink, archive_entry_hardlink_utf8(entry_), container_).value_or("");
    } else if (type == AE_IFLNK) {
        record.kind = EntryKind::symbolicLink;
        // Without its target the link is listed and skipped, never made
        // to point at undecrypted bytes.
        if (!hasHiddenTarget()) {
            record.target = textOf(archive_entry_symlink(entry_),
                                   archive_entry_symlink_utf8(entry_), container_)
                                .value_or("");
        }
    } else if (type == AE_IFDIR) {
        record.kind = EntryKind::directory;
    } else if (type == AE_IFREG) {
        record.kind = EntryKind::file;
    } else {
        // Devices, FIFOs, sockets and types no one knows are never created.
        record.kind = EntryKind::special;
    }
    if (record.kind == EntryKind::file && archive_entry_size_is_set(entry_) != 0 &&
        archive_entry_size(entry_) >= 0) {
        record.unpackedSize = static_cast<std::uint64_t>(archive_entry_size(entry_));
    }
    record.modified = modificationTimeOf(entry_);
    record.unixMode = static_cast<std::uint16_t>(archive_entry_perm(entry_) & 07777);
    record.isEncrypted = archive_entry_is_encrypted(entry_) != 0;
    return Status::ok;
}

// libarchive takes a tar that stops at a block boundary after an entry for a
// whole one, though every tar writer ends with zero blocks: without them the
// archive was cut between two entries. Padding after an entry is shorter
// than one block, so a marker read means at least a block more consumed.
bool LibarchiveBackend::endIsMarked() const {
    constexpr la_int64_t kTarBlock = 512;
    return container_ != Container::tar || entryEnd_ < 0 ||
           archive_filter_bytes(archive_, 0) - entryEnd_ >= kTarBlock;
}

bool LibarchiveBackend::hasHiddenTarget() const {
    return archive_entry_filetype(entry_) == AE_IFLNK && archive_entry_is_encrypted(entry_) != 0;
}

Status LibarchiveBackend::extract(DataRelay& relay) {
    if (emptyRaw_) {
        return Status::ok;
    }
    static constexpr std::array<std::byte, 64 * 1024> zeros{};
    // No hole reaches past the size the entry states; of an unstated size, none.
    const std::uint64_t holesEnd =
        archive_entry_size_is_set(entry_) != 0 && archive_entry_size(entry_) >= 0
            ? static_cast<std::uint64_t>(archive_entry_size(entry_))
            : 0;
    std::uint64_t delivered = 0;
    for (;;) {
        const void* block = nullptr;
        std::size_t blockSize = 0;
        la_int64_t offset = 0;
        const int result = archive_read_data_block(archive_, &block, &blockSize, &offset);
        if (result != ARCHIVE_OK && result != ARCHIVE_EOF) {
            // A warning here is a checksum that does not match.
            return failure();
        }
        // A sparse file's holes are zeros up to the next block.
        if (offset < 0 || static_cast<std::uint64_t>(offset) < delivered) {
            return Status::damaged;
        }
        const auto target = static_cast<std::uint64_t>(offset);
        if (target > delivered && target > holesEnd) {
            return Status::damaged;
        }
        while (delivered < target) {
            const std::size_t piece =
                static_cast<std::size_t>(std::min<std::uint64_t>(zeros.size(), target - delivered));
            if (!relay.deliver(std::span<const std::byte>(zeros.data(), piece))) {
                return Status::engineFailure;
            }
            delivered += piece;
        }
        if (result == ARCHIVE_EOF) {
            entryEnd_ = archive_filter_bytes(archive_, 0);
            return Status::ok;
        }
        if (blockSize > 0 && !relay.deliver(std::span<const std::byte>(
                                 static_cast<const std::byte*>(block), blockSize))) {
            return Status::engineFailure;
        }
        delivered += blockSize;
    }
}

Status LibarchiveBackend::skip() {
    // Such a link's stored bytes cannot be read, nor need they be: the zip
    // reader finds the next entry through the central directory.
    if (emptyRaw_ || hasHiddenTarget()) {
        return Status::ok;
    }
    if (archive_read_data_skip(archive_) != ARCHIVE_OK) {
        return failure();
    }
    entryEnd_ = archive_filter_bytes(archive_, 0);
    return Status::ok;
}

Status LibarchiveBackend::failure() const {
    const int code = archive_errno(archive_);
    const char* text = archive_error_string(archive_);
    if (code == ENOMEM || mentions(text, "Cannot allocate memory")) {
        return Status::outOfMemory;
    }
    // "Passphrase required for this entry", "Incorrect passphrase".
    if (mentions(text, "assphrase")) {
        return hasPassword_ ? Status::wrongPassword : Status::passwordRequired;
    }
    if (mentions(text, "ncrypt")) {
        return Status::unsupportedEncryption;
    }
    if (mentions(text, "Unrecognized archive format")) {
        return Status::notAnArchive;
    }
    return Status::damaged;
}

void LibarchiveBackend::close(DecoderProtocol::Finished& finished) {
    if (archive_ != nullptr) {
        if (archive_read_free(archive_) != ARCHIVE_OK && finished.status == Status::ok) {
            finished.status = Status::damaged;
        }
        archive_ = nullptr;
    }
    // The whole set is read as one stream: a call that went through read
    // every volume.
    if (finished.status == Status::ok && volumes_.size() > 1) {
        finished.volumes.assign(volumes_.begin() + 1, volumes_.end());
    }
}

}  // namespace tovani
