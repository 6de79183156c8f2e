// ArchiveEntry describes one entry of an archive exactly as the engine lists
// it. The path is unsanitised: it may hold "..", a leading "/" or empty
// pieces; only PathSanitizer decides what may reach the disk.
//
//   ArchiveEntry e{"docs/readme.txt", ArchiveEntry::File{}, 120, 80,
//                  std::nullopt, 0644, false};
//   if (std::holds_alternative<ArchiveEntry::SymbolicLink>(e.kind)) { ... }
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "TovaniCore/Timestamp.h"

namespace tovani {

struct ArchiveEntry {
    // A symbolic link (Unix link, Windows link or junction). The target is
    // absent when the header carries no target text.
    struct SymbolicLink {
        std::optional<std::string> target;
        bool operator==(const SymbolicLink&) const = default;
    };
    // A hard link to an earlier entry, named by its archive path.
    struct HardLink {
        std::string target;
        bool operator==(const HardLink&) const = default;
    };
    // A file stored as a reference to an identical earlier entry.
    struct Copy {
        std::string source;
        bool operator==(const Copy&) const = default;
    };
    struct File {
        bool operator==(const File&) const = default;
    };
    struct Directory {
        bool operator==(const Directory&) const = default;
    };
    // A device node, FIFO or socket: listed, never created.
    struct Special {
        bool operator==(const Special&) const = default;
    };
    using Kind = std::variant<SymbolicLink, HardLink, Copy, File, Directory, Special>;

    std::string path;
    Kind kind;
    std::uint64_t unpackedSize = 0;
    std::uint64_t packedSize = 0;
    std::optional<Timestamp> modificationDate;
    // Mode bits masked with 07777; present only for entries from Unix hosts.
    std::optional<std::uint16_t> posixPermissions;
    bool isEncrypted = false;

    bool operator==(const ArchiveEntry&) const = default;

    bool isFile() const { return std::holds_alternative<File>(kind); }
    bool isDirectory() const { return std::holds_alternative<Directory>(kind); }
};

}  // namespace tovani
