// RarWriter writes small *stored* (uncompressed) RAR archives byte by byte,
// for what the rar program cannot make: the RAR 1.5-4.x format, old-style
// volume names (name.rar, name.r00, name.r01 ...), entry names that leave the
// tree, any host OS, mode or time, redirection records with any target, and
// deliberately wrong data checksums.
//
//   writeRar5(dir / "evil.rar", {StoredEntry::file("../x", "payload"),
//                               StoredEntry::link(Redirection::unixSymlink, "l", "/etc")});
//   StoredEntry old = StoredEntry::file("old.txt", "x");
//   old.fileTime = 0;  // FILETIME record: 1601, before 1970
//   writeRar5(dir / "old.rar", {old});
//   std::vector<fs::path> set = writeRar4Volumes(dir / "set.rar", {big}, 1000);
//   // set: set.rar, set.r00, set.r01 ...
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tovani::testing {

// The host system an entry was archived on; other is one the format does not
// name (RAR 5's host 2, RAR 4's host 6).
enum class HostOs { windows, unix, other };

// The redirection record of a RAR 5 entry (the numbers are the format's).
enum class Redirection : std::uint32_t {
    none = 0,
    unixSymlink = 1,
    windowsSymlink = 2,
    junction = 3,
    hardLink = 4,
    fileCopy = 5,
};

// 1970-01-01 00:00:00 UTC as a FILETIME (100 ns intervals since 1601).
inline constexpr std::uint64_t kFileTime1970 = 116444736000000000ULL;

// A default modification time for entries: 2023-11-14 22:13:20 UTC.
inline constexpr std::uint32_t kDefaultMtime = 1700000000;

struct StoredEntry {
    // Stored exactly as given (UTF-8); may be "", ".", "../x", "/abs" ...
    std::string name;
    // The entry's data, stored as is. For a RAR 4 Unix symlink this is the
    // link target.
    std::string data;
    bool isDirectory = false;
    HostOs host = HostOs::unix;
    // The attribute word; absent gives 0o100644 / 0o40755 for Unix hosts
    // and 0x20 / 0x10 for Windows hosts.
    std::optional<std::uint32_t> attributes;
    // Unix seconds, in the file header (RAR 5) or as a DOS time (RAR 4,
    // UTC). Absent stores no time in RAR 5 and DOS time 0 in RAR 4.
    std::optional<std::uint32_t> unixMtime = kDefaultMtime;
    // A FILETIME time record (RAR 5 only); lets a test store exactly 1970 or
    // any earlier time. Set unixMtime to nullopt alongside for a clean entry.
    std::optional<std::uint64_t> fileTime;
    // RAR 5 only; the target is stored as given (UTF-8).
    Redirection redirection = Redirection::none;
    std::string redirectionTarget;
    bool redirectionTargetIsDirectory = false;
    // Stores a data CRC32 that does not match the data (damaged content).
    bool wrongCrc = false;
    // RAR 5 only: marks the unpacked size as unknown, as an archive written
    // from a stream has it.
    bool unknownSize = false;
    // RAR 4 single-volume archives only: encrypts the data with the
    // RAR 1.5 cipher under this password (version needed 15). The format
    // stores nothing to check a password against.
    std::optional<std::string> rar15Password;
    // RAR 4 only: the version needed to extract (15 for RAR 1.5, 20 for 2.x,
    // 29 for 3.x-4.x); a RAR 1.5 password forces 15.
    std::uint8_t rar4Version = 29;
    // RAR 4 only: the name is stored as the given bytes in the legacy
    // single-byte field, without the format's Unicode form, as Windows
    // versions of RAR wrote names in the system's code page.
    bool rar4LegacyName = false;
    // RAR 4 only: marks the entry as an older version of a file (the name
    // then carries its ";N" suffix, as the format stores it).
    bool rar4OldVersion = false;

    static StoredEntry file(std::string name, std::string data, HostOs host = HostOs::unix);
    static StoredEntry directory(std::string name, HostOs host = HostOs::unix);
    // A RAR 5 redirection entry (no data).
    static StoredEntry link(Redirection type, std::string name, std::string target,
                            HostOs host = HostOs::unix);
    // A RAR 4 Unix symbolic link: mode 0o120777, the target as its data.
    static StoredEntry rar4Symlink(std::string name, std::string target);
};

// Writes a single-volume RAR 5 archive with the entries in order. No entries
// gives a valid archive without entries.
void writeRar5(const std::filesystem::path& archive, const std::vector<StoredEntry>& entries);

// Writes a single-volume RAR 1.5-4.x archive (redirection fields are ignored;
// fileTime too). Non-ASCII names are stored in the format's Unicode form.
void writeRar4(const std::filesystem::path& archive, const std::vector<StoredEntry>& entries);

// What a RAR 1.5-4.x archive holds besides its entries.
struct Rar4Archive {
    // A stored archive comment: embedded in the main header, as RAR 2.x
    // wrote it, or in a "CMT" service block after it, as RAR 3.x does.
    std::optional<std::string> comment;
    bool commentInServiceBlock = false;
    // Stores a comment header checksum that does not match the header.
    bool damagedComment = false;
};

// As above, with a comment.
void writeRar4(const std::filesystem::path& archive, const std::vector<StoredEntry>& entries,
               const Rar4Archive& options);

// Writes a RAR 4 volume set with old-style names: firstVolume (name.rar),
// then name.r00, name.r01 ... Each volume holds at most maxDataPerVolume
// bytes of entry data; files that do not fit are split across volumes.
// Returns every volume written, in order.
std::vector<std::filesystem::path> writeRar4Volumes(const std::filesystem::path& firstVolume,
                                                    const std::vector<StoredEntry>& entries,
                                                    std::size_t maxDataPerVolume);

// The name of volume index (0 = first) of an old-style set: name.rar,
// name.r00, name.r01 ...
std::filesystem::path oldStyleVolumeName(const std::filesystem::path& firstVolume,
                                         std::size_t index);

// Gives every file of a RAR 5 archive that rar made a dictionary of
// 128 KiB << log2Of128KiB (15: 4 GiB, the largest), fixing the headers'
// checksums: rar makes the dictionary no larger than the files it packs, and
// a larger one still decodes the same data.
void setRar5Dictionary(const std::filesystem::path& archive, unsigned log2Of128KiB);

// Standard CRC-32 (as zlib's crc32), for tests that check data.
std::uint32_t crc32Of(const std::string& bytes);

}  // namespace tovani::testing
