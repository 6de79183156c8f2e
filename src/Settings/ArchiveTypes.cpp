#include "Settings/ArchiveTypes.h"

#include <QMimeDatabase>
#include <QMimeType>

namespace tovani {

const QList<ArchiveType>& archiveTypes() {
    static const QList<ArchiveType> types{
        {"application/vnd.rar", {"application/x-rar", "application/x-rar-compressed"}},
        {"application/zip", {"application/x-zip-compressed", "application/x-zip"}},
        // Also the first part of a split set, "*.7z.001".
        {"application/x-7z-compressed", {}},
        {"application/x-tar", {"application/x-gtar"}},
        {"application/x-compressed-tar", {}},
        {"application/x-bzip-compressed-tar", {}},
        {"application/x-xz-compressed-tar", {}},
        {"application/x-zstd-compressed-tar", {}},
        {"application/x-lz4-compressed-tar", {}},
        {"application/x-lzma-compressed-tar", {}},
        {"application/x-cpio", {}},
        {"application/x-cpio-compressed", {}},
        {"application/gzip", {"application/x-gzip"}},
        {"application/x-bzip", {"application/x-bzip2", "application/bzip2"}},
        {"application/x-xz", {}},
        {"application/x-lzma", {}},
        {"application/zstd", {}},
        {"application/x-lz4", {}},
    };
    return types;
}

QStringList archiveTypeNames() {
    QStringList names;
    for (const ArchiveType& type : archiveTypes()) {
        names << type.name << type.aliases;
    }
    return names;
}

QString readableName(const ArchiveType& type) {
    const QMimeType known = QMimeDatabase().mimeTypeForName(type.name);
    const QString comment = known.isValid() ? known.comment() : QString();
    return comment.isEmpty() ? type.name : comment;
}

}  // namespace tovani
