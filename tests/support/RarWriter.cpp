#include "support/RarWriter.h"

#include <time.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <stdexcept>
#include <utility>

#include "support/TempDirectory.h"

namespace tovani::testing {

namespace fs = std::filesystem;

namespace {

std::array<std::uint32_t, 256> makeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1) ? 0xEDB88320U ^ (c >> 1) : c >> 1;
        }
        table[n] = c;
    }
    return table;
}

void putU8(std::string& out, std::uint32_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
}

void putU16(std::string& out, std::uint32_t value) {
    putU8(out, value);
    putU8(out, value >> 8);
}

void putU32(std::string& out, std::uint32_t value) {
    putU16(out, value & 0xFFFF);
    putU16(out, value >> 16);
}

void putU64(std::string& out, std::uint64_t value) {
    putU32(out, static_cast<std::uint32_t>(value));
    putU32(out, static_cast<std::uint32_t>(value >> 32));
}

void putVint(std::string& out, std::uint64_t value) {
    do {
        std::uint8_t byte = value & 0x7F;
        value >>= 7;
        if (value != 0) {
            byte |= 0x80;
        }
        out.push_back(static_cast<char>(byte));
    } while (value != 0);
}

void writeBytes(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + file.string());
    }
}

std::uint32_t defaultAttributes(const StoredEntry& entry) {
    if (entry.attributes) {
        return *entry.attributes;
    }
    if (entry.host == HostOs::windows) {
        return entry.isDirectory ? 0x10 : 0x20;
    }
    return entry.isDirectory ? 040755 : 0100644;
}

std::uint32_t dataCrc(const StoredEntry& entry) {
    const std::uint32_t crc = crc32Of(entry.data);
    return entry.wrongCrc ? ~crc : crc;
}

// ---- RAR 5 ----

// A whole block from its body (type field to end of header) and data area.
std::string rar5Block(const std::string& body, const std::string& data = {}) {
    std::string sized;
    putVint(sized, body.size());
    sized += body;
    std::string block;
    putU32(block, crc32Of(sized));
    block += sized;
    block += data;
    return block;
}

std::string rar5Extra(const StoredEntry& entry) {
    std::string extra;
    if (entry.fileTime) {
        std::string record;
        putVint(record, 0x03);
        putVint(record, 0x0002);  // mtime present, Windows FILETIME format
        putU64(record, *entry.fileTime);
        putVint(extra, record.size());
        extra += record;
    }
    if (entry.redirection != Redirection::none) {
        std::string record;
        putVint(record, 0x05);
        putVint(record, static_cast<std::uint32_t>(entry.redirection));
        putVint(record, entry.redirectionTargetIsDirectory ? 0x0001 : 0);
        putVint(record, entry.redirectionTarget.size());
        record += entry.redirectionTarget;
        putVint(extra, record.size());
        extra += record;
    }
    return extra;
}

std::string rar5FileBlock(const StoredEntry& entry) {
    const std::string extra = rar5Extra(entry);
    const bool hasData = !entry.isDirectory && !entry.data.empty();
    std::string body;
    putVint(body, 2);
    putVint(body, (extra.empty() ? 0 : 0x0001) | (hasData ? 0x0002 : 0));
    if (!extra.empty()) {
        putVint(body, extra.size());
    }
    if (hasData) {
        putVint(body, entry.data.size());
    }
    std::uint32_t fileFlags = 0;
    if (entry.isDirectory) {
        fileFlags |= 0x0001;
    }
    if (entry.unixMtime) {
        fileFlags |= 0x0002;
    }
    if (!entry.isDirectory) {
        fileFlags |= 0x0004;
    }
    if (entry.unknownSize) {
        fileFlags |= 0x0008;
    }
    putVint(body, fileFlags);
    putVint(body, entry.isDirectory || entry.unknownSize ? 0 : entry.data.size());
    putVint(body, defaultAttributes(entry));
    if (entry.unixMtime) {
        putU32(body, *entry.unixMtime);
    }
    if (!entry.isDirectory) {
        putU32(body, dataCrc(entry));
    }
    putVint(body, 0);  // compression: version 0, method "store"
    putVint(body, entry.host == HostOs::windows ? 0 : entry.host == HostOs::unix ? 1 : 2);
    putVint(body, entry.name.size());
    body += entry.name;
    body += extra;
    return rar5Block(body, hasData ? entry.data : std::string());
}

// ---- RAR 1.5-4.x ----

// A block from its header bytes after the CRC field (type byte onwards).
std::string rar4Block(const std::string& header) {
    std::string block;
    putU16(block, crc32Of(header) & 0xFFFF);
    block += header;
    return block;
}

std::string rar4MainBlock(std::uint32_t flags, const Rar4Archive& options = {}) {
    const bool embedded = options.comment && !options.commentInServiceBlock;
    std::string comment;
    if (embedded) {
        // The comment block follows the main header's own fields inside its
        // size; the main header's checksum covers only those fields.
        const std::string& text = *options.comment;
        std::string header;
        putU8(header, 0x75);
        putU16(header, 0);
        putU16(header, static_cast<std::uint32_t>(13 + text.size()));
        putU16(header, static_cast<std::uint32_t>(text.size()));
        putU8(header, 20);    // version needed to unpack the comment
        putU8(header, 0x30);  // stored
        putU16(header, crc32Of(text) & 0xFFFF);
        const std::uint32_t crc = crc32Of(header) & 0xFFFF;
        putU16(comment, options.damagedComment ? (~crc & 0xFFFF) : crc);
        comment += header + text;
    }
    std::string header;
    putU8(header, 0x73);
    putU16(header, flags | (embedded ? 0x0002 : 0));
    putU16(header, static_cast<std::uint32_t>(13 + comment.size()));
    putU16(header, 0);
    putU32(header, 0);
    std::string block = rar4Block(header) + comment;
    if (options.comment && options.commentInServiceBlock) {
        const std::string& text = *options.comment;
        std::string service;
        putU8(service, 0x7A);
        putU16(service, 0x8000);
        putU16(service, 32 + 3);
        putU32(service, static_cast<std::uint32_t>(text.size()));
        putU32(service, static_cast<std::uint32_t>(text.size()));
        putU8(service, 3);
        putU32(service, crc32Of(text));
        putU32(service, 0);
        putU8(service, 29);
        putU8(service, 0x30);
        putU16(service, 3);
        putU32(service, 0);
        service += "CMT";
        const std::uint32_t crc = crc32Of(service) & 0xFFFF;
        putU16(block, options.damagedComment ? (~crc & 0xFFFF) : crc);
        block += service + text;
    }
    return block;
}

std::string rar4EndBlock(bool moreVolumes) {
    std::string header;
    putU8(header, 0x7B);
    putU16(header, 0x4000 | (moreVolumes ? 0x0001 : 0));
    putU16(header, 7);
    return rar4Block(header);
}

std::uint32_t dosTime(const std::optional<std::uint32_t>& unixMtime) {
    if (!unixMtime) {
        return 0;
    }
    // The format's DOS times are local times; the library reads them so.
    const time_t seconds = static_cast<time_t>(*unixMtime);
    struct tm local {};
    localtime_r(&seconds, &local);
    if (local.tm_year < 80) {
        return 0;
    }
    return static_cast<std::uint32_t>(local.tm_year - 80) << 25 |
           static_cast<std::uint32_t>(local.tm_mon + 1) << 21 |
           static_cast<std::uint32_t>(local.tm_mday) << 16 |
           static_cast<std::uint32_t>(local.tm_hour) << 11 |
           static_cast<std::uint32_t>(local.tm_min) << 5 |
           static_cast<std::uint32_t>(local.tm_sec / 2);
}

// UTF-8 to UTF-16 code units, lenient: stray bytes become U+FFFD.
std::vector<std::uint16_t> utf16Of(const std::string& text) {
    std::vector<std::uint16_t> units;
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        std::uint32_t value = 0xFFFD;
        std::size_t length = 1;
        if (byte < 0x80) {
            value = byte;
        } else if ((byte & 0xE0) == 0xC0) {
            value = byte & 0x1F;
            length = 2;
        } else if ((byte & 0xF0) == 0xE0) {
            value = byte & 0x0F;
            length = 3;
        } else if ((byte & 0xF8) == 0xF0) {
            value = byte & 0x07;
            length = 4;
        }
        if (length > 1) {
            if (i + length > text.size()) {
                value = 0xFFFD;
                length = text.size() - i;
            } else {
                for (std::size_t k = 1; k < length; ++k) {
                    value = value << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3F);
                }
            }
        }
        i += length;
        if (value >= 0x10000) {
            value -= 0x10000;
            units.push_back(static_cast<std::uint16_t>(0xD800 + (value >> 10)));
            units.push_back(static_cast<std::uint16_t>(0xDC00 + (value & 0x3FF)));
        } else {
            units.push_back(static_cast<std::uint16_t>(value));
        }
    }
    return units;
}

// The name field, with the format's Unicode form appended for non-ASCII
// names: the narrow name, NUL, a high byte, then groups of four characters
// behind a flag byte whose 2-bit codes 0b10 mean "16-bit value follows".
std::string rar4NameField(const std::string& name, bool& unicode) {
    unicode = std::any_of(name.begin(), name.end(),
                          [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    if (!unicode) {
        return name;
    }
    std::string field = name;
    field.push_back('\0');
    putU8(field, 0);
    const std::vector<std::uint16_t> units = utf16Of(name);
    for (std::size_t i = 0; i < units.size(); ++i) {
        if (i % 4 == 0) {
            putU8(field, 0xAA);
        }
        putU16(field, units[i]);
    }
    return field;
}

// The RAR 1.5 cipher: a keystream from the password's CRC32, XORed onto the
// data, so the same call encrypts and decrypts.
std::string rar15Crypt(std::string data, const std::string& password) {
    static const std::array<std::uint32_t, 256> table = makeCrcTable();
    const std::uint32_t passwordCrc = ~crc32Of(password);
    std::uint16_t key[4] = {static_cast<std::uint16_t>(passwordCrc & 0xFFFF),
                            static_cast<std::uint16_t>(passwordCrc >> 16), 0, 0};
    for (const char c : password) {
        const auto p = static_cast<unsigned char>(c);
        key[2] = static_cast<std::uint16_t>(key[2] ^ p ^ table[p]);
        key[3] = static_cast<std::uint16_t>(key[3] + p + (table[p] >> 16));
    }
    const auto rotateRight = [](std::uint16_t v) {
        return static_cast<std::uint16_t>((v >> 1) | (v << 15));
    };
    for (char& c : data) {
        key[0] = static_cast<std::uint16_t>(key[0] + 0x1234);
        const std::uint32_t t = table[(key[0] & 0x1FE) >> 1];
        key[1] = static_cast<std::uint16_t>(key[1] ^ t);
        key[2] = static_cast<std::uint16_t>(key[2] - (t >> 16));
        key[0] = static_cast<std::uint16_t>(key[0] ^ key[2]);
        key[3] = static_cast<std::uint16_t>(rotateRight(key[3]) ^ key[1]);
        key[3] = rotateRight(key[3]);
        key[0] = static_cast<std::uint16_t>(key[0] ^ key[3]);
        c = static_cast<char>(c ^ static_cast<char>(key[0] >> 8));
    }
    return data;
}

struct Piece {
    const StoredEntry* entry;
    std::size_t offset;
    std::size_t length;
    bool continuedBefore;
    bool continuedAfter;
};

std::string rar4FileBlock(const Piece& piece) {
    const StoredEntry& entry = *piece.entry;
    bool unicode = false;
    const std::string name = entry.rar4LegacyName ? entry.name : rar4NameField(entry.name, unicode);
    std::uint32_t flags = 0x8000;
    if (entry.rar4OldVersion) {
        flags |= 0x0800;
    }
    if (piece.continuedBefore) {
        flags |= 0x0001;
    }
    if (piece.continuedAfter) {
        flags |= 0x0002;
    }
    if (entry.isDirectory) {
        flags |= 0x00E0;
    }
    if (unicode) {
        flags |= 0x0200;
    }
    std::string data =
        entry.isDirectory ? std::string() : entry.data.substr(piece.offset, piece.length);
    const std::uint32_t crc = piece.continuedAfter ? crc32Of(data) : dataCrc(entry);
    if (entry.rar15Password) {
        flags |= 0x0004;
        data = rar15Crypt(std::move(data), *entry.rar15Password);
    }
    std::string header;
    putU8(header, 0x74);
    putU16(header, flags);
    putU16(header, static_cast<std::uint32_t>(32 + name.size()));
    putU32(header, static_cast<std::uint32_t>(data.size()));
    putU32(header, static_cast<std::uint32_t>(entry.isDirectory ? 0 : entry.data.size()));
    putU8(header, entry.host == HostOs::windows ? 2 : entry.host == HostOs::unix ? 3 : 6);
    putU32(header, entry.isDirectory ? 0 : crc);
    putU32(header, dosTime(entry.unixMtime));
    putU8(header, entry.rar15Password ? 15 : entry.rar4Version);  // version needed to extract
    putU8(header, 0x30);                                          // method: store
    putU16(header, static_cast<std::uint32_t>(name.size()));
    putU32(header, defaultAttributes(entry));
    header += name;
    return rar4Block(header) + data;
}

const std::string kRar4Signature("Rar!\x1A\x07\x00", 7);
const std::string kRar5Signature("Rar!\x1A\x07\x01\x00", 8);

}  // namespace

std::uint32_t crc32Of(const std::string& bytes) {
    static const std::array<std::uint32_t, 256> table = makeCrcTable();
    std::uint32_t crc = 0xFFFFFFFFU;
    for (char c : bytes) {
        crc = table[(crc ^ static_cast<unsigned char>(c)) & 0xFF] ^ (crc >> 8);
    }
    return crc ^ 0xFFFFFFFFU;
}

StoredEntry StoredEntry::file(std::string name, std::string data, HostOs host) {
    StoredEntry entry;
    entry.name = std::move(name);
    entry.data = std::move(data);
    entry.host = host;
    return entry;
}

StoredEntry StoredEntry::directory(std::string name, HostOs host) {
    StoredEntry entry;
    entry.name = std::move(name);
    entry.isDirectory = true;
    entry.host = host;
    return entry;
}

StoredEntry StoredEntry::link(Redirection type, std::string name, std::string target, HostOs host) {
    StoredEntry entry;
    entry.name = std::move(name);
    entry.host = host;
    entry.redirection = type;
    entry.redirectionTarget = std::move(target);
    if (type == Redirection::unixSymlink && host == HostOs::unix) {
        entry.attributes = 0120777;
    }
    return entry;
}

StoredEntry StoredEntry::rar4Symlink(std::string name, std::string target) {
    StoredEntry entry;
    entry.name = std::move(name);
    entry.data = std::move(target);
    entry.attributes = 0120777;
    return entry;
}

void writeRar5(const fs::path& archive, const std::vector<StoredEntry>& entries) {
    std::string bytes = kRar5Signature;
    std::string main;
    putVint(main, 1);  // type: main
    putVint(main, 0);  // header flags
    putVint(main, 0);  // archive flags
    bytes += rar5Block(main);
    for (const StoredEntry& entry : entries) {
        bytes += rar5FileBlock(entry);
    }
    std::string end;
    putVint(end, 5);  // type: end of archive
    putVint(end, 0);
    putVint(end, 0);  // no further volume
    bytes += rar5Block(end);
    writeBytes(archive, bytes);
}

void writeRar4(const fs::path& archive, const std::vector<StoredEntry>& entries) {
    writeRar4(archive, entries, Rar4Archive{});
}

void writeRar4(const fs::path& archive, const std::vector<StoredEntry>& entries,
               const Rar4Archive& options) {
    std::string bytes = kRar4Signature + rar4MainBlock(0, options);
    for (const StoredEntry& entry : entries) {
        bytes += rar4FileBlock(Piece{&entry, 0, entry.data.size(), false, false});
    }
    bytes += rar4EndBlock(false);
    writeBytes(archive, bytes);
}

fs::path oldStyleVolumeName(const fs::path& firstVolume, std::size_t index) {
    if (index == 0) {
        return firstVolume;
    }
    const std::size_t number = index - 1;
    std::string extension = ".r";
    if (number < 10) {
        extension += '0';
    }
    extension += std::to_string(number);
    fs::path name = firstVolume;
    name.replace_extension(extension);
    return name;
}

std::vector<fs::path> writeRar4Volumes(const fs::path& firstVolume,
                                       const std::vector<StoredEntry>& entries,
                                       std::size_t maxDataPerVolume) {
    if (maxDataPerVolume == 0) {
        throw std::invalid_argument("maxDataPerVolume must be positive");
    }
    std::vector<std::vector<Piece>> volumes(1);
    std::size_t used = 0;
    for (const StoredEntry& entry : entries) {
        const std::size_t size = entry.isDirectory ? 0 : entry.data.size();
        if (size == 0) {
            volumes.back().push_back(Piece{&entry, 0, 0, false, false});
            continue;
        }
        for (std::size_t offset = 0; offset < size;) {
            if (used == maxDataPerVolume) {
                volumes.emplace_back();
                used = 0;
            }
            const std::size_t take = std::min(size - offset, maxDataPerVolume - used);
            volumes.back().push_back(Piece{&entry, offset, take, offset > 0, offset + take < size});
            offset += take;
            used += take;
        }
    }
    std::vector<fs::path> files;
    for (std::size_t index = 0; index < volumes.size(); ++index) {
        const bool more = index + 1 < volumes.size();
        std::string bytes = kRar4Signature + rar4MainBlock(0x0001 | (index == 0 ? 0x0100 : 0));
        for (const Piece& piece : volumes[index]) {
            bytes += rar4FileBlock(piece);
        }
        bytes += rar4EndBlock(more);
        files.push_back(oldStyleVolumeName(firstVolume, index));
        writeBytes(files.back(), bytes);
    }
    return files;
}

}  // namespace tovani::testing

namespace tovani::testing {

namespace {

// A RAR 5 variable-length integer at bytes[at], moving at past it.
std::uint64_t readVint(const std::string& bytes, std::size_t& at) {
    std::uint64_t value = 0;
    for (int shift = 0; at < bytes.size() && shift < 64; shift += 7) {
        const auto byte = static_cast<unsigned char>(bytes[at++]);
        value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
        if ((byte & 0x80) == 0) {
            return value;
        }
    }
    throw std::runtime_error("not a RAR 5 archive this writer reads");
}

}  // namespace

void setRar5Dictionary(const fs::path& archive, unsigned log2Of128KiB) {
    std::string bytes = readFile(archive);
    std::size_t at = 8;  // the signature
    while (at + 4 < bytes.size()) {
        const std::size_t crcAt = at;
        std::size_t header = at + 4;
        const std::uint64_t headerSize = readVint(bytes, header);
        const std::size_t headerStart = crcAt + 4;
        const std::size_t end = header + headerSize;
        if (end > bytes.size()) {
            break;
        }
        std::size_t field = header;
        const std::uint64_t type = readVint(bytes, field);
        const std::uint64_t flags = readVint(bytes, field);
        if ((flags & 0x0001) != 0) {
            (void)readVint(bytes, field);
        }
        const std::uint64_t dataSize = (flags & 0x0002) != 0 ? readVint(bytes, field) : 0;
        if (type == 2) {
            const std::uint64_t fileFlags = readVint(bytes, field);
            (void)readVint(bytes, field);  // unpacked size
            (void)readVint(bytes, field);  // attributes
            field += ((fileFlags & 0x0002) != 0 ? 4 : 0) + ((fileFlags & 0x0004) != 0 ? 4 : 0);
            const std::size_t infoAt = field;
            std::uint64_t info = readVint(bytes, field);
            info = (info & ~(0xFULL << 10)) | (static_cast<std::uint64_t>(log2Of128KiB) << 10);
            // The same number of bytes, continuation bits and all.
            for (std::size_t i = infoAt; i < field; ++i) {
                const bool last = i + 1 == field;
                bytes[i] = static_cast<char>((info & 0x7F) | (last ? 0 : 0x80));
                info >>= 7;
            }
            if (info != 0) {
                throw std::runtime_error("the dictionary does not fit the header's field");
            }
            const std::uint32_t crc = crc32Of(bytes.substr(headerStart, end - headerStart));
            for (int i = 0; i < 4; ++i) {
                bytes[crcAt + i] = static_cast<char>((crc >> (8 * i)) & 0xFF);
            }
        }
        at = end + dataSize;
    }
    writeFile(archive, bytes);
}

}  // namespace tovani::testing
