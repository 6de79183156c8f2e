#include "App/DesktopFileManager.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QUrl>
#include <set>
#include <string>

#include "App/PrivateBus.h"
#include "App/QueueTestSupport.h"
#include "support/TempDirectory.h"

namespace tovani::testing {
namespace {

namespace fs = std::filesystem;

QString qPath(const fs::path& path) {
    return QFile::decodeName(path.c_str());
}

// Answers ShowItems as a file manager would, and keeps the arguments.
class FakeFileManager : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.interface() != DesktopFileManager::interface ||
            message.member() != QStringLiteral("ShowItems")) {
            return false;
        }
        calls.append(message.arguments());
        connection.send(message.createReply());
        return true;
    }

    QList<QVariantList> calls;
};

class DesktopFileManagerTest : public ::testing::Test {
protected:
    void SetUp() override { queue::ensureApplication(); }

    DesktopFileManager::FolderOpener recordOpened() {
        return [this](const QUrl& folder) { opened.append(folder); };
    }

    TempDirectory dir;
    QList<QUrl> opened;
};

TEST_F(DesktopFileManagerTest, RevealAsksTheFileManagerServiceToShowTheItem) {
    PrivateBus bus;
    if (!bus.running()) {
        GTEST_SKIP() << "dbus-daemon is not available";
    }
    QDBusConnection service = bus.connect(QStringLiteral("fake-file-manager"));
    FakeFileManager fake;
    ASSERT_TRUE(service.registerService(DesktopFileManager::service));
    ASSERT_TRUE(service.registerVirtualObject(DesktopFileManager::objectPath, &fake));

    DesktopFileManager files(bus.connect(QStringLiteral("app")), recordOpened());
    files.reveal(dir / "out folder/movie");
    ASSERT_TRUE(queue::waitFor([&] { return !fake.calls.isEmpty(); }));
    const QVariantList arguments = fake.calls.front();
    ASSERT_EQ(arguments.size(), 2);
    EXPECT_EQ(arguments[0].toStringList(),
              QStringList{QUrl::fromLocalFile(qPath(dir / "out folder/movie")).toString()});
    EXPECT_EQ(arguments[1].toString(), QString());
    queue::waitFor([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_TRUE(opened.isEmpty());
    service.unregisterObject(DesktopFileManager::objectPath);
}

TEST_F(DesktopFileManagerTest, RevealOpensTheFolderWhenNoFileManagerServiceAnswers) {
    PrivateBus bus;
    if (!bus.running()) {
        GTEST_SKIP() << "dbus-daemon is not available";
    }
    DesktopFileManager files(bus.connect(QStringLiteral("lonely-app")), recordOpened());
    files.reveal(dir / "out/movie");
    ASSERT_TRUE(queue::waitFor([&] { return !opened.isEmpty(); }));
    EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile(qPath(dir / "out"))});
}

TEST_F(DesktopFileManagerTest, RevealWithoutASessionBusOpensTheFolderAtOnce) {
    DesktopFileManager files(
        QDBusConnection::connectToBus(QStringLiteral("unix:path=") + qPath(dir / "no-bus"),
                                      QStringLiteral("no-bus")),
        recordOpened());
    files.reveal(dir / "movie.txt");
    EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile(qPath(dir.path()))});
    QDBusConnection::disconnectFromBus(QStringLiteral("no-bus"));
}

// Points the user's data directory (home of the Trash) and the current
// directory somewhere else for one test.
class TrashEnvironment {
public:
    TrashEnvironment(const fs::path& dataHome, const fs::path& workingDirectory)
        : savedDataHome_(qgetenv("XDG_DATA_HOME")), savedCurrent_(QDir::currentPath()) {
        qputenv("XDG_DATA_HOME", QFile::encodeName(qPath(dataHome)));
        QDir::setCurrent(qPath(workingDirectory));
    }
    ~TrashEnvironment() {
        if (savedDataHome_.isNull()) {
            qunsetenv("XDG_DATA_HOME");
        } else {
            qputenv("XDG_DATA_HOME", savedDataHome_);
        }
        QDir::setCurrent(savedCurrent_);
    }

private:
    QByteArray savedDataHome_;
    QString savedCurrent_;
};

// The home Trash serves files on the home directory's file system only.
bool homeTrashServes(const fs::path& directory) {
    return QStorageInfo(qPath(directory)).rootPath() == QStorageInfo(QDir::homePath()).rootPath();
}

TEST_F(DesktopFileManagerTest, MoveToTrashPutsTheFileInTheUsersTrashMadeOnFirstUse) {
    if (!homeTrashServes(dir.path())) {
        GTEST_SKIP() << "the temporary directory is not on the home file system";
    }
    fs::create_directories(dir / "work");
    TrashEnvironment environment(dir / "new/data", dir / "work");
    writeFile(dir / "a.part1.rar", "volume");
    DesktopFileManager files(QDBusConnection(QStringLiteral("unused")), recordOpened());
    EXPECT_TRUE(files.moveToTrash(dir / "a.part1.rar"));
    EXPECT_FALSE(files.moveToTrash(dir / "missing.rar"));
    EXPECT_FALSE(fs::exists(dir / "a.part1.rar"));
    EXPECT_EQ(readFile(dir / "new/data/Trash/files/a.part1.rar"), "volume");
}

TEST_F(DesktopFileManagerTest, MoveToTrashWithoutAUsableTrashLeavesTheFileInPlace) {
    if (!homeTrashServes(dir.path())) {
        GTEST_SKIP() << "the temporary directory is not on the home file system";
    }
    // The data directory cannot be made: a file stands where its parent goes.
    writeFile(dir / "blocked", "");
    fs::create_directories(dir / "work");
    TrashEnvironment environment(dir / "blocked/data", dir / "work");
    writeFile(dir / "a.rar", "archive");
    DesktopFileManager files(QDBusConnection(QStringLiteral("unused")), recordOpened());
    EXPECT_FALSE(files.moveToTrash(dir / "a.rar"));
    EXPECT_EQ(readFile(dir / "a.rar"), "archive");
    EXPECT_EQ(directoryNames(dir / "work"), std::set<std::string>{});
}

}  // namespace
}  // namespace tovani::testing
