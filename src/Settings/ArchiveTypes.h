// ArchiveTypes lists the MIME types of the files Ostrel opens, by the names
// of the shared MIME database, each with the older names that the same
// content goes by. It is what Ostrel offers to become the default for; the
// desktop file's MimeType= and the metainfo's media types list the same names.
//
//   for (const ArchiveType& type : archiveTypes()) {
//       label->setText(readableName(type));  // "Zip archive", in German "Zip-Archiv"
//       arguments << type.name << type.aliases;
//   }
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace tovani {

struct ArchiveType {
    QString name;         // e.g. "application/zip"
    QStringList aliases;  // e.g. "application/x-zip-compressed"

    bool operator==(const ArchiveType&) const = default;
};

// Every type, RAR first, then the archive formats, then the single
// compressed files.
const QList<ArchiveType>& archiveTypes();

// Every name of every type: each type's name followed by its aliases.
QStringList archiveTypeNames();

// The type's description in the shared MIME database, in the language of the
// default locale ("Zip archive"); the type's name when the database has none.
QString readableName(const ArchiveType& type);

}  // namespace tovani
