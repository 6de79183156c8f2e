#include "Settings/DesktopEntry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace tovani::DesktopEntry {

namespace {

// Relative entries of the XDG variables are invalid and ignored.
QStringList absoluteEntries(const char* variable) {
    QStringList entries;
    for (const QString& entry :
         qEnvironmentVariable(variable).split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        if (QDir::isAbsolutePath(entry)) {
            entries.append(entry);
        }
    }
    return entries;
}

// Looks for `rest` inside `directory`, trying each "-" of it both as a
// character and as a directory separator; a plain file name wins over a
// subdirectory at the same level.
QString findBelow(const QString& directory, const QString& rest) {
    // Neither "." nor ".." may become a path component.
    if (rest.startsWith(QLatin1Char('.'))) {
        return {};
    }
    const QFileInfo direct(directory + QLatin1Char('/') + rest);
    if (direct.isFile()) {
        return direct.filePath();
    }
    for (qsizetype dash = rest.indexOf(QLatin1Char('-')); dash > 0;
         dash = rest.indexOf(QLatin1Char('-'), dash + 1)) {
        const QString subdirectory = directory + QLatin1Char('/') + rest.left(dash);
        if (QFileInfo(subdirectory).isDir()) {
            const QString found = findBelow(subdirectory, rest.mid(dash + 1));
            if (!found.isEmpty()) {
                return found;
            }
        }
    }
    return {};
}

QString unescape(const QString& value) {
    QString result;
    result.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            result.append(c);
            continue;
        }
        const QChar next = value.at(++i);
        switch (next.unicode()) {
            case 's':
                result.append(QLatin1Char(' '));
                break;
            case 'n':
                result.append(QLatin1Char('\n'));
                break;
            case 't':
                result.append(QLatin1Char('\t'));
                break;
            case 'r':
                result.append(QLatin1Char('\r'));
                break;
            case '\\':
                result.append(QLatin1Char('\\'));
                break;
            default:
                result.append(c).append(next);
        }
    }
    return result;
}

}  // namespace

QStringList applicationDirectories() {
    const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    QStringList directories{QDir::isAbsolutePath(dataHome)
                                ? dataHome
                                : QDir::homePath() + QStringLiteral("/.local/share")};
    QStringList dataDirs = absoluteEntries("XDG_DATA_DIRS");
    if (dataDirs.isEmpty()) {
        dataDirs = {QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share")};
    }
    directories.append(dataDirs);
    for (QString& dir : directories) {
        dir = QDir::cleanPath(dir) + QStringLiteral("/applications");
    }
    return directories;
}

QString findFile(const QString& desktopId) {
    // An id is a file name; anything that could walk out of the
    // applications directories is no id.
    if (desktopId.contains(QLatin1Char('/')) || desktopId.contains(QChar(0))) {
        return {};
    }
    for (const QString& directory : applicationDirectories()) {
        const QString found = findBelow(directory, desktopId);
        if (!found.isEmpty()) {
            return found;
        }
    }
    return {};
}

QString name(const QString& filePath) {
    return value(filePath, QStringLiteral("Name"));
}

QString value(const QString& filePath, const QString& key) {
    if (filePath.isEmpty()) {
        return {};
    }
    QFile file(filePath);
    // A desktop entry is a few kilobytes; anything far larger is not one.
    constexpr qint64 kMaximumSize = 1 << 20;
    if (file.size() > kMaximumSize || !file.open(QIODevice::ReadOnly)) {
        return {};
    }
    bool inMainGroup = false;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray& rawLine : lines) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QStringLiteral("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup || line.startsWith(QLatin1Char('#'))) {
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals > 0 && line.left(equals).trimmed() == key) {
            return unescape(line.mid(equals + 1).trimmed());
        }
    }
    return {};
}

QString program(const QString& filePath) {
    const QString exec = value(filePath, QStringLiteral("Exec"));
    // The first argument, which a desktop entry may quote.
    QString first;
    if (exec.startsWith(QLatin1Char('"'))) {
        const qsizetype end = exec.indexOf(QLatin1Char('"'), 1);
        first = end < 0 ? QString() : exec.mid(1, end - 1);
    } else {
        first = exec.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty);
    }
    if (first.isEmpty()) {
        return {};
    }
    const QString found =
        QDir::isAbsolutePath(first) ? first : QStandardPaths::findExecutable(first);
    const QFileInfo info(found);
    if (found.isEmpty() || !info.isFile() || !info.isExecutable()) {
        return {};
    }
    return info.canonicalFilePath();
}

}  // namespace tovani::DesktopEntry
