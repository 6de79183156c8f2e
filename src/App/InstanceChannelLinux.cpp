#include "App/InstanceChannel.h"

#include <unistd.h>

#include <QStandardPaths>

namespace tovani {

QString InstanceChannel::defaultName() {
    // Only a private directory will do: anyone who could take the name in a
    // shared one would receive the user's files.
    const QString directory = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (directory.isEmpty()) {
        return {};
    }
    return directory + QLatin1Char('/') + QStringLiteral(OSTREL_APP_ID) + QLatin1Char('-') +
           QString::number(::getuid());
}

}  // namespace tovani
