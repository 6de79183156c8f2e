#include "App/DesktopFileManagerLinux.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>

namespace tovani {

namespace {

QString nativePath(const std::filesystem::path& path) {
    return QFile::decodeName(path.c_str());
}

}  // namespace

std::unique_ptr<FileManagerActions> makeDesktopFileManager() {
    return std::make_unique<DesktopFileManager>();
}

DesktopFileManager::DesktopFileManager()
    : DesktopFileManager(QDBusConnection::sessionBus(),
                         [](const QUrl& folder) { QDesktopServices::openUrl(folder); }) {}

DesktopFileManager::DesktopFileManager(QDBusConnection bus, FolderOpener openFolder)
    : bus_(std::move(bus)), openFolder_(std::move(openFolder)) {}

bool DesktopFileManager::moveToTrash(const std::filesystem::path& file) {
    // Qt finds no Trash when the user's data directory is missing, and then
    // moves the file into "files" below the current directory and calls that
    // a success. The directory is made first, and a relative result undone.
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!dataHome.isEmpty()) {
        QDir().mkpath(dataHome);
    }
    const QString path = nativePath(file);
    QString trashed;
    if (!QFile::moveToTrash(path, &trashed)) {
        return false;
    }
    if (QFileInfo(trashed).isAbsolute()) {
        return true;
    }
    QFile::rename(trashed, path);
    QFile::remove(QStringLiteral("info/") + QFileInfo(trashed).fileName() +
                  QStringLiteral(".trashinfo"));
    QDir().rmdir(QStringLiteral("files"));
    QDir().rmdir(QStringLiteral("info"));
    return false;
}

void DesktopFileManager::reveal(const std::filesystem::path& item) {
    const QUrl folder = QUrl::fromLocalFile(nativePath(item.parent_path()));
    if (!bus_.isConnected()) {
        openFolder_(folder);
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, objectPath, interface, QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(nativePath(item)).toString()} << QString();
    // The bus starts a file manager that is installed but not running; any
    // error (no such service among them) falls back to opening the folder.
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, callTimeoutMs));
    FolderOpener openFolder = openFolder_;
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [openFolder, folder](QDBusPendingCallWatcher* finished) {
                         if (finished->isError()) {
                             openFolder(folder);
                         }
                         finished->deleteLater();
                     });
}

}  // namespace tovani
