// ExtractionError is the closed set of failures of the library, thrown as an
// exception. Each case is a small struct held in a variant; the static
// functions build one, and equality compares case and payload.
//
//   try {
//       extractor.extract(archive, options, handlers);
//   } catch (const ExtractionError& error) {
//       if (error == ExtractionError::cancelled()) return;
//       if (auto* unsafe = error.as<ExtractionError::UnsafePath>()) report(unsafe->path);
//   }
#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <variant>

#include "TovaniCore/Export.h"

namespace tovani {

class TOVANI_EXPORT ExtractionError : public std::exception {
public:
    // Content failed verification, or an entry refers to one never delivered.
    struct Damaged {
        std::optional<std::string> entry;
        bool operator==(const Damaged&) const = default;
    };
    // File name (last component only) of the volume that cannot be found.
    struct VolumeMissing {
        std::string name;
        bool operator==(const VolumeMissing&) const = default;
    };
    // File name (last component only) of a volume that is there but cannot
    // be read, and why. One that is not a file is never handed to the reader;
    // a part of a set whose kind no engine reads (a spanned zip's .z01) is
    // named as unsupported.
    struct VolumeUnreadable {
        enum class Reason { notAFile, empty, noPermission, unsupportedSet };
        std::string name;
        Reason reason = Reason::notAFile;
        bool operator==(const VolumeUnreadable&) const = default;
    };
    // What runs short: bytes, or items, the inodes every file, folder and
    // link takes (an empty file takes one but no block).
    struct InsufficientSpace {
        enum class Unit { bytes, items };
        std::uint64_t required = 0;
        std::uint64_t available = 0;
        Unit unit = Unit::bytes;
        bool operator==(const InsufficientSpace&) const = default;
    };
    struct DestinationNotWritable {
        std::filesystem::path directory;
        bool operator==(const DestinationNotWritable&) const = default;
    };
    // The entry's path exactly as the archive states it.
    struct UnsafePath {
        std::string path;
        bool operator==(const UnsafePath&) const = default;
    };
    // path is relative to the output tree (may be empty); code is an errno.
    struct WriteFailed {
        std::string path;
        std::int32_t code = 0;
        bool operator==(const WriteFailed&) const = default;
    };
    struct CannotOpen {
        bool operator==(const CannotOpen&) const = default;
    };
    struct NotAnArchive {
        bool operator==(const NotAnArchive&) const = default;
    };
    struct PasswordRequired {
        bool operator==(const PasswordRequired&) const = default;
    };
    struct WrongPassword {
        bool operator==(const WrongPassword&) const = default;
    };
    // The user cancelled, or declined to give a password.
    struct Cancelled {
        bool operator==(const Cancelled&) const = default;
    };
    // required: what the archive asks for (a dictionary's size), when known.
    struct OutOfMemory {
        std::optional<std::uint64_t> required;
        bool operator==(const OutOfMemory&) const = default;
    };
    struct UnsupportedFormat {
        bool operator==(const UnsupportedFormat&) const = default;
    };
    // The archive is encrypted in a way no engine here can decrypt (an
    // encrypted 7z): no password would help.
    struct UnsupportedEncryption {
        bool operator==(const UnsupportedEncryption&) const = default;
    };
    struct EngineFailure {
        bool operator==(const EngineFailure&) const = default;
    };
    // The decoder could not confine itself as this system allows, and read
    // nothing.
    struct ConfinementFailed {
        bool operator==(const ConfinementFailed&) const = default;
    };

    using Case =
        std::variant<Damaged, VolumeMissing, VolumeUnreadable, InsufficientSpace,
                     DestinationNotWritable, UnsafePath, WriteFailed, CannotOpen, NotAnArchive,
                     PasswordRequired, WrongPassword, Cancelled, OutOfMemory, UnsupportedFormat,
                     UnsupportedEncryption, EngineFailure, ConfinementFailed>;

    explicit ExtractionError(Case value);

    [[nodiscard]] static ExtractionError damaged(std::optional<std::string> entry);
    [[nodiscard]] static ExtractionError volumeMissing(std::string name);
    [[nodiscard]] static ExtractionError volumeUnreadable(std::string name,
                                                          VolumeUnreadable::Reason reason);
    [[nodiscard]] static ExtractionError insufficientSpace(
        std::uint64_t required, std::uint64_t available,
        InsufficientSpace::Unit unit = InsufficientSpace::Unit::bytes);
    [[nodiscard]] static ExtractionError destinationNotWritable(std::filesystem::path directory);
    [[nodiscard]] static ExtractionError unsafePath(std::string path);
    [[nodiscard]] static ExtractionError writeFailed(std::string path, std::int32_t code);
    [[nodiscard]] static ExtractionError cannotOpen();
    [[nodiscard]] static ExtractionError notAnArchive();
    [[nodiscard]] static ExtractionError passwordRequired();
    [[nodiscard]] static ExtractionError wrongPassword();
    [[nodiscard]] static ExtractionError cancelled();
    [[nodiscard]] static ExtractionError outOfMemory(
        std::optional<std::uint64_t> required = std::nullopt);
    [[nodiscard]] static ExtractionError unsupportedFormat();
    [[nodiscard]] static ExtractionError unsupportedEncryption();
    [[nodiscard]] static ExtractionError engineFailure();
    [[nodiscard]] static ExtractionError confinementFailed();

    const Case& value() const { return value_; }

    template <class T>
    bool is() const {
        return std::holds_alternative<T>(value_);
    }
    template <class T>
    const T* as() const {
        return std::get_if<T>(&value_);
    }

    // A readable description such as "unsafePath(\"../x\")".
    const char* what() const noexcept override { return description_.c_str(); }

    bool operator==(const ExtractionError& other) const { return value_ == other.value_; }

private:
    Case value_;
    std::string description_;
};

// Prints the same text as what(); lets test frameworks show the case.
TOVANI_EXPORT std::ostream& operator<<(std::ostream& out, const ExtractionError& error);

}  // namespace tovani
