#include "Messages/PasswordPromptText.h"

#include <QCoreApplication>

namespace tovani {
namespace {

// The context stays "PasswordPrompt" so that the translations keep their keys.
class Texts {
    Q_DECLARE_TR_FUNCTIONS(PasswordPrompt)
};

}  // namespace

PasswordPromptText passwordPromptText(const QString& archiveName, bool isRetry) {
    return {Texts::tr("Enter the password for “%1”.").arg(archiveName),
            isRetry ? Texts::tr("Incorrect password. Try again.")
                    : Texts::tr("This archive is protected with a password."),
            Texts::tr("Password")};
}

}  // namespace tovani
