// DesktopFileManager moves files to the freedesktop Trash and reveals items
// through the org.freedesktop.FileManager1 service on the session bus; where
// no such service answers (or there is no session bus at all), it opens the
// folder that holds the item instead.
//
//   DesktopFileManager files;  // session bus, QDesktopServices
//   files.reveal("/home/me/movie");
//   DesktopFileManager probe(QDBusConnection::connectToBus(address, "test"),
//                            [](const QUrl& folder) { opened.push_back(folder); });
#pragma once

#include <QDBusConnection>
#include <QUrl>
#include <functional>

#include "App/FileManagerActions.h"

namespace tovani {

class DesktopFileManager : public FileManagerActions {
public:
    using FolderOpener = std::function<void(const QUrl& folder)>;

    static inline const QString service = QStringLiteral("org.freedesktop.FileManager1");
    static inline const QString objectPath = QStringLiteral("/org/freedesktop/FileManager1");
    static inline const QString interface = QStringLiteral("org.freedesktop.FileManager1");
    // A file manager started by the bus for the call may take a while.
    static constexpr int callTimeoutMs = 10'000;

    DesktopFileManager();
    DesktopFileManager(QDBusConnection bus, FolderOpener openFolder);

    [[nodiscard]] bool moveToTrash(const std::filesystem::path& file) override;
    void reveal(const std::filesystem::path& item) override;

private:
    QDBusConnection bus_;
    FolderOpener openFolder_;
};

}  // namespace tovani
