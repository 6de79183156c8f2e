#include "Messages/ErrorMessage.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocale>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "Messages/ByteCountFormatter.h"
#include "Messages/NamedFormat.h"
#include "TovaniCore/ExtractionError.h"
#include "TovaniCore/Overloaded.h"

namespace tovani {
namespace {

class Texts {
    Q_DECLARE_TR_FUNCTIONS(ErrorMessage)
};

QString fromArchive(const std::string& text) {
    return QString::fromStdString(text);
}

// The last component of a directory, ignoring trailing separators, the way a
// file URL names its last path component ("/" stays "/").
QString folderName(const std::filesystem::path& directory) {
    std::string text = directory.string();
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    std::size_t slash = text.rfind('/');
    if (slash != std::string::npos && text.size() > 1) {
        text.erase(0, slash + 1);
    }
    return QFile::decodeName(QByteArray::fromStdString(text));
}

QString byteCount(std::uint64_t bytes) {
    constexpr auto largest = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    return ByteCountFormatter::format(static_cast<std::int64_t>(std::min(bytes, largest)));
}

QString systemMessage(std::int32_t code) {
    return QString::fromLocal8Bit(std::strerror(code));
}

// The texts that name a format go by the archive's name: the RAR texts for
// RAR names, the format's own name for the others, and none for a name that
// claims no format Ostrel opens.
QString notAnArchiveTitle(const QString& archive) {
    const NamedFormat format = namedFormat(archive);
    switch (format.kind) {
        case NamedFormat::Kind::rar:
            return Texts::tr("“%1” is not a valid RAR archive.").arg(archive);
        case NamedFormat::Kind::archive:
            //: %2 is the archive format as its file name says, e.g. "zip", "7z", "tar.gz".
            return Texts::tr("“%1” is not a valid %2 archive.").arg(archive, format.name);
        case NamedFormat::Kind::compressedFile:
            //: %2 is the compression format as the file name says, e.g. "gzip", "xz", "zstd".
            return Texts::tr("“%1” is not a valid %2 file.").arg(archive, format.name);
        case NamedFormat::Kind::unknown:
            break;
    }
    return Texts::tr("“%1” is not an archive that Ostrel can open.").arg(archive);
}

QString unsupportedFormatDetail(const QString& archive) {
    const NamedFormat format = namedFormat(archive);
    switch (format.kind) {
        case NamedFormat::Kind::rar:
            return Texts::tr(
                "The archive uses a newer RAR format that this version cannot unpack.");
        case NamedFormat::Kind::archive:
            //: %1 is the archive format as its file name says, e.g. "zip", "7z", "tar.gz".
            return Texts::tr("This %1 archive uses a method that this version cannot unpack.")
                .arg(format.name);
        case NamedFormat::Kind::compressedFile:
            //: %1 is the compression format as the file name says, e.g. "gzip", "xz", "zstd".
            return Texts::tr("This %1 file uses a method that this version cannot unpack.")
                .arg(format.name);
        case NamedFormat::Kind::unknown:
            break;
    }
    return Texts::tr("The archive uses a format that this version cannot unpack.");
}

ErrorMessage describe(const ExtractionError& error, const QString& archive) {
    using E = ExtractionError;
    ErrorMessage message;
    message.title = Texts::tr("“%1” could not be extracted.").arg(archive);
    auto unexpected = [&] {
        message.detail = Texts::tr("An unexpected error occurred while reading the archive.");
    };
    std::visit(
        Overloaded{
            [&](const E::Damaged& c) {
                message.title = Texts::tr("“%1” is damaged.").arg(archive);
                message.detail =
                    c.entry ? Texts::tr("“%1” failed its integrity check. Nothing was extracted.")
                                  .arg(fromArchive(*c.entry))
                            : Texts::tr(
                                  "The archive could not be read to the end. Nothing was "
                                  "extracted.");
            },
            [&](const E::VolumeMissing& c) {
                message.title = Texts::tr("A part of “%1” is missing.").arg(archive);
                message.detail = Texts::tr(
                                     "“%1” was not found. Put all the parts in the same "
                                     "folder and try again.")
                                     .arg(fromArchive(c.name));
            },
            [&](const E::VolumeUnreadable& c) {
                using Reason = E::VolumeUnreadable::Reason;
                message.title = Texts::tr("“%1” could not be opened.").arg(archive);
                switch (c.reason) {
                    case Reason::notAFile:
                        message.detail =
                            Texts::tr("“%1” is a folder, a device or a pipe, not a file.");
                        break;
                    case Reason::empty:
                        message.detail =
                            Texts::tr("“%1” is empty. Copy or download that part again.");
                        break;
                    case Reason::noPermission:
                        message.detail = Texts::tr("You do not have permission to read “%1”.");
                        break;
                    case Reason::unsupportedSet:
                        message.detail = Texts::tr(
                            "“%1” is part of a spanned zip archive, which Ostrel cannot open.");
                        break;
                }
                message.detail = message.detail.arg(fromArchive(c.name));
            },
            [&](const E::InsufficientSpace& c) {
                message.title =
                    Texts::tr("There is not enough free space to extract “%1”.").arg(archive);
                if (c.unit == E::InsufficientSpace::Unit::items) {
                    const QLocale locale;
                    message.detail =
                        Texts::tr(
                            "The contents are %1 files and folders, but the disk has room "
                            "for only %2 more.")
                            .arg(locale.toString(static_cast<qulonglong>(c.required)),
                                 locale.toString(static_cast<qulonglong>(c.available)));
                } else {
                    message.detail = Texts::tr("The contents need %1, but only %2 is available.")
                                         .arg(byteCount(c.required), byteCount(c.available));
                }
            },
            [&](const E::DestinationNotWritable& c) {
                message.title = Texts::tr("“%1” cannot be extracted here.").arg(archive);
                message.detail = Texts::tr(
                                     "Nothing can be saved in “%1”. Choose another folder "
                                     "to extract the contents there.")
                                     .arg(folderName(c.directory));
                message.offersFolderChoice = true;
            },
            [&](const E::UnsafePath& c) {
                message.title =
                    Texts::tr("“%1” was not extracted because it is unsafe.").arg(archive);
                message.detail = Texts::tr(
                                     "The archive contains an item that would be saved "
                                     "outside the extraction folder: “%1”.")
                                     .arg(fromArchive(c.path));
            },
            [&](const E::WriteFailed& c) {
                message.detail =
                    c.code == ENOSPC
                        ? Texts::tr(
                              "The disk ran out of space during extraction. Nothing was "
                              "extracted.")
                        : Texts::tr("“%1” could not be saved: %2.")
                              .arg(fromArchive(c.path), systemMessage(c.code));
            },
            [&](const E::CannotOpen&) {
                message.title = Texts::tr("“%1” could not be opened.").arg(archive);
                message.detail = Texts::tr(
                    "Check that the file still exists and that you have permission to read it.");
            },
            [&](const E::NotAnArchive&) {
                message.title = notAnArchiveTitle(archive);
                message.detail = Texts::tr("The file may be incomplete or in a different format.");
            },
            [&](const E::OutOfMemory& c) {
                message.detail =
                    c.required ? Texts::tr(
                                     "The archive needs %1 of memory to unpack, more than "
                                     "Ostrel may use.")
                                     .arg(byteCount(*c.required))
                               : Texts::tr("There is not enough memory to unpack this archive.");
            },
            [&](const E::UnsupportedEncryption&) {
                message.title = Texts::tr("“%1” could not be opened.").arg(archive);
                message.detail = Texts::tr("The archive uses encryption that Ostrel cannot open.");
            },
            [&](const E::UnsupportedFormat&) { message.detail = unsupportedFormatDetail(archive); },
            [&](const E::ConfinementFailed&) {
                message.detail = Texts::tr(
                    "The archive was not opened: its reader could not be shut off from your "
                    "files on this system.");
            },
            [&](const E::PasswordRequired&) { unexpected(); },
            [&](const E::WrongPassword&) { unexpected(); },
            [&](const E::Cancelled&) { unexpected(); },
            [&](const E::EngineFailure&) { unexpected(); },
        },
        error.value());
    return message;
}

}  // namespace

ErrorMessage errorMessage(const std::exception& error, const QString& archiveName) {
    if (const auto* extraction = dynamic_cast<const ExtractionError*>(&error)) {
        return describe(*extraction, archiveName);
    }
    ErrorMessage message;
    message.title = Texts::tr("“%1” could not be extracted.").arg(archiveName);
    message.detail = QString::fromUtf8(error.what());
    return message;
}

}  // namespace tovani
