// PasswordPromptText is the wording of the password question, shared by the
// app's dialog and the command-line tool's terminal prompt so that both ask
// the same thing in the same words.
//
//   const PasswordPromptText text = passwordPromptText("a.rar", request.isRetry);
//   show(text.message, text.information, text.field);
#pragma once

#include <QString>

namespace tovani {

struct PasswordPromptText {
    QString message;      // names the archive
    QString information;  // first ask, or the retry after a wrong password
    QString field;        // label of the field the password goes in

    bool operator==(const PasswordPromptText&) const = default;
};

// archiveName is shown as given: callers make it safe for where it is shown.
PasswordPromptText passwordPromptText(const QString& archiveName, bool isRetry);

}  // namespace tovani
