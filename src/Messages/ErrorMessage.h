// ErrorMessage is the wording of one failed extraction: the alert's title and
// informative text, and whether the user may pick another destination folder.
// Any exception can be described; ExtractionError cases get their own texts.
//
//   ErrorMessage message = errorMessage(ExtractionError::notAnArchive(), "a.rar");
//   // message.title  == "“a.rar” is not a valid RAR archive."
//   // message.detail == "The file may be incomplete or in a different format."
#pragma once

#include <QString>
#include <exception>

namespace tovani {

struct ErrorMessage {
    QString title;
    QString detail;
    // True only when the destination cannot be written: the alert then offers
    // to choose another folder.
    bool offersFolderChoice = false;

    bool operator==(const ErrorMessage&) const = default;
};

// archiveName is the file name of the archive (the set's first volume); where
// a text names the format, it is the one that name claims (see NamedFormat):
// "“a.zip” is not a valid zip archive.", while RAR names keep the RAR texts.
// An error that is not an ExtractionError is described by its own what() text.
ErrorMessage errorMessage(const std::exception& error, const QString& archiveName);

}  // namespace tovani
