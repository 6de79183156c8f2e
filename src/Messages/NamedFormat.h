// NamedFormat is the archive format that a file's name claims, as messages
// write it, so that a failure can say "not a valid zip archive" where the
// file is meant to be a zip. Only the name is read: the engine that opens a
// file goes by its content, and a message about a file that failed to open
// can only go by what the user sees.
//
//   NamedFormat format = namedFormat("photos.tgz");
//   // format.kind == NamedFormat::Kind::archive, format.name == "tar.gz"
//   namedFormat("movie.part2.rar").kind;  // NamedFormat::Kind::rar
//   namedFormat("notes.txt.xz").name;     // "xz" (Kind::compressedFile)
#pragma once

#include <QString>

namespace tovani {

struct NamedFormat {
    enum class Kind {
        rar,             // a RAR archive or one of its volumes
        archive,         // another archive format: zip, 7z, tar, tar.gz, cpio, ...
        compressedFile,  // one compressed file: gzip, bzip2, xz, lzma, zstd, lz4
        unknown,         // a name that claims no format Ostrel opens
    };
    Kind kind = Kind::unknown;
    // The format as a message names it ("RAR", "zip", "7z", "tar.gz",
    // "gzip"); empty when the kind is unknown.
    QString name;

    bool operator==(const NamedFormat&) const = default;
};

// The format that fileName's extension claims, case-insensitively; a path
// is judged by its last component. Volume and part names count as their
// set's format: "a.r00", "a.7z.001", "a.zip.002" and "a.z01".
NamedFormat namedFormat(const QString& fileName);

}  // namespace tovani
