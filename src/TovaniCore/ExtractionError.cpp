#include "TovaniCore/ExtractionError.h"

#include <ostream>
#include <sstream>
#include <utility>

#include "TovaniCore/Overloaded.h"

namespace tovani {

namespace {

void quoted(std::ostringstream& out, const std::string& text) {
    out << '"' << text << '"';
}

std::string describe(const ExtractionError::Case& value) {
    using E = ExtractionError;
    std::ostringstream out;
    std::visit(Overloaded{
                   [&](const E::Damaged& c) {
                       out << "damaged(entry: ";
                       if (c.entry) {
                           quoted(out, *c.entry);
                       } else {
                           out << "none";
                       }
                       out << ')';
                   },
                   [&](const E::VolumeMissing& c) {
                       out << "volumeMissing(name: ";
                       quoted(out, c.name);
                       out << ')';
                   },
                   [&](const E::VolumeUnreadable& c) {
                       out << "volumeUnreadable(name: ";
                       quoted(out, c.name);
                       constexpr const char* reasons[] = {"notAFile", "empty", "noPermission",
                                                          "unsupportedSet"};
                       out << ", reason: " << reasons[static_cast<int>(c.reason)] << ')';
                   },
                   [&](const E::InsufficientSpace& c) {
                       out << "insufficientSpace(required: " << c.required
                           << ", available: " << c.available
                           << (c.unit == E::InsufficientSpace::Unit::items ? ", items)" : ")");
                   },
                   [&](const E::DestinationNotWritable& c) {
                       out << "destinationNotWritable(";
                       quoted(out, c.directory.string());
                       out << ')';
                   },
                   [&](const E::UnsafePath& c) {
                       out << "unsafePath(";
                       quoted(out, c.path);
                       out << ')';
                   },
                   [&](const E::WriteFailed& c) {
                       out << "writeFailed(path: ";
                       quoted(out, c.path);
                       out << ", code: " << c.code << ')';
                   },
                   [&](const E::CannotOpen&) { out << "cannotOpen"; },
                   [&](const E::NotAnArchive&) { out << "notAnArchive"; },
                   [&](const E::PasswordRequired&) { out << "passwordRequired"; },
                   [&](const E::WrongPassword&) { out << "wrongPassword"; },
                   [&](const E::Cancelled&) { out << "cancelled"; },
                   [&](const E::OutOfMemory& c) {
                       out << "outOfMemory";
                       if (c.required) {
                           out << "(required: " << *c.required << ')';
                       }
                   },
                   [&](const E::UnsupportedFormat&) { out << "unsupportedFormat"; },
                   [&](const E::UnsupportedEncryption&) { out << "unsupportedEncryption"; },
                   [&](const E::EngineFailure&) { out << "engineFailure"; },
                   [&](const E::ConfinementFailed&) { out << "confinementFailed"; },
               },
               value);
    return out.str();
}

}  // namespace

ExtractionError::ExtractionError(Case value)
    : value_(std::move(value)), description_(describe(value_)) {}

ExtractionError ExtractionError::damaged(std::optional<std::string> entry) {
    return ExtractionError(Damaged{std::move(entry)});
}
ExtractionError ExtractionError::volumeMissing(std::string name) {
    return ExtractionError(VolumeMissing{std::move(name)});
}
ExtractionError ExtractionError::volumeUnreadable(std::string name,
                                                  VolumeUnreadable::Reason reason) {
    return ExtractionError(VolumeUnreadable{std::move(name), reason});
}
ExtractionError ExtractionError::insufficientSpace(std::uint64_t required, std::uint64_t available,
                                                   InsufficientSpace::Unit unit) {
    return ExtractionError(InsufficientSpace{required, available, unit});
}
ExtractionError ExtractionError::destinationNotWritable(std::filesystem::path directory) {
    return ExtractionError(DestinationNotWritable{std::move(directory)});
}
ExtractionError ExtractionError::unsafePath(std::string path) {
    return ExtractionError(UnsafePath{std::move(path)});
}
ExtractionError ExtractionError::writeFailed(std::string path, std::int32_t code) {
    return ExtractionError(WriteFailed{std::move(path), code});
}
ExtractionError ExtractionError::cannotOpen() {
    return ExtractionError(CannotOpen{});
}
ExtractionError ExtractionError::notAnArchive() {
    return ExtractionError(NotAnArchive{});
}
ExtractionError ExtractionError::passwordRequired() {
    return ExtractionError(PasswordRequired{});
}
ExtractionError ExtractionError::wrongPassword() {
    return ExtractionError(WrongPassword{});
}
ExtractionError ExtractionError::cancelled() {
    return ExtractionError(Cancelled{});
}
ExtractionError ExtractionError::outOfMemory(std::optional<std::uint64_t> required) {
    return ExtractionError(OutOfMemory{required});
}
ExtractionError ExtractionError::unsupportedFormat() {
    return ExtractionError(UnsupportedFormat{});
}
ExtractionError ExtractionError::unsupportedEncryption() {
    return ExtractionError(UnsupportedEncryption{});
}
ExtractionError ExtractionError::engineFailure() {
    return ExtractionError(EngineFailure{});
}
ExtractionError ExtractionError::confinementFailed() {
    return ExtractionError(ConfinementFailed{});
}

std::ostream& operator<<(std::ostream& out, const ExtractionError& error) {
    return out << error.what();
}

}  // namespace tovani
