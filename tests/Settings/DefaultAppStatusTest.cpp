#include "Settings/DefaultAppStatus.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <map>
#include <optional>

#include "Settings/CoreApplication.h"
#include "Settings/XdgEnvironment.h"
#include "support/TempDirectory.h"

namespace tovani {
namespace {

using testing::readFile;
using testing::TempDirectory;
using testing::writeFile;
using testing::XdgEnvironment;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kWaitMs = 15000;
const QString kAppId = QStringLiteral("org.ostrel.Ostrel.desktop");

class DefaultAppStatusTest : public ::testing::Test {
protected:
    void SetUp() override { testing::ensureCoreApplication(); }

    // A launchable desktop entry; xdg-mime ignores defaults whose Exec it
    // cannot find. Ostrel's own starts this very program.
    void installDesktopFile(const fs::path& applications, const std::string& relativePath,
                            const std::string& name, std::string exec = {}) {
        if (exec.empty()) {
            exec = relativePath == "org.ostrel.Ostrel.desktop"
                       ? QCoreApplication::applicationFilePath().toStdString()
                       : "true";
        }
        writeFile(applications / relativePath,
                  "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec + " %F\n");
    }
    void recordDefault(const std::string& desktopId) {
        writeFile(dir / "config/mimeapps.list",
                  "[Default Applications]\napplication/vnd.rar=" + desktopId + ";\n");
    }
    // A stand-in for xdg-mime that runs the given shell script.
    QString fakeTool(const std::string& script) {
        const fs::path tool = dir / "bin/xdg-mime";
        writeFile(tool, "#!/bin/sh\n" + script + "\n");
        ::chmod(tool.c_str(), 0755);
        return QString::fromStdString(tool.string());
    }
    // Waits for the next refresh that is applied.
    static bool waitForRefresh(DefaultAppStatus& status) {
        QSignalSpy refreshed(&status, &DefaultAppStatus::refreshed);
        return refreshed.wait(kWaitMs);
    }

    TempDirectory dir;
    XdgEnvironment environment{dir.path()};
    fs::path home = dir / "home/applications";
    fs::path system = dir / "system/applications";
};

TEST_F(DefaultAppStatusTest, ThisAppAsDefaultHasNoHandlerName) {
    installDesktopFile(home, "org.ostrel.Ostrel.desktop", "Ostrel");
    recordDefault("org.ostrel.Ostrel.desktop");

    DefaultAppStatus status;
    EXPECT_EQ(status.desktopId(), kAppId);
    EXPECT_FALSE(status.isDefault());  // nothing is known before the answer arrives
    ASSERT_TRUE(waitForRefresh(status));
    EXPECT_TRUE(status.isDefault());
    EXPECT_EQ(status.currentHandlerName(), QString());
}

// Ostrel's desktop file id is recorded, but the file does not start this app.
TEST_F(DefaultAppStatusTest, ThisAppsIdStartingAnotherOrNoProgramIsNotThisApp) {
    const std::string self = QCoreApplication::applicationFilePath().toStdString();
    for (const std::string& exec :
         {std::string("/nonexistent/ostrel"), std::string("ostrel-not-on-the-path"),
          std::string("true"), "\"" + self + "-copy\"", (dir / "home").string()}) {
        installDesktopFile(home, "org.ostrel.Ostrel.desktop", "Ostrel", exec);
        recordDefault("org.ostrel.Ostrel.desktop");
        DefaultAppStatus status;
        ASSERT_TRUE(waitForRefresh(status));
        EXPECT_FALSE(status.isDefault()) << exec;
    }
}

TEST_F(DefaultAppStatusTest, AnotherAppAsDefaultIsNamedFromItsDesktopFile) {
    installDesktopFile(home, "org.ostrel.Ostrel.desktop", "Ostrel");
    // A subdirectory of applications/ stands for a "-" in the id.
    writeFile(system / "vendor/viewer.desktop",
              "# A comment\n[Desktop Entry]\nName[de]=Archivbetrachter\nName = Archive\\sViewer\n"
              "Exec=true %F\n[Desktop Action New]\nName=New Window\n");
    recordDefault("vendor-viewer.desktop");

    DefaultAppStatus status;
    ASSERT_TRUE(waitForRefresh(status));
    EXPECT_FALSE(status.isDefault());
    EXPECT_EQ(status.currentHandlerName(), QStringLiteral("Archive Viewer"));
}

TEST_F(DefaultAppStatusTest, AnotherCopyOfThisAppIsNotThisApp) {
    // Another installation with its own desktop file, under the same name.
    installDesktopFile(home, "org.ostrel.Ostrel.desktop", "Ostrel");
    installDesktopFile(system, "ostrel-nightly.desktop", "Ostrel");
    recordDefault("ostrel-nightly.desktop");

    DefaultAppStatus status;
    ASSERT_TRUE(waitForRefresh(status));
    EXPECT_FALSE(status.isDefault());
    EXPECT_EQ(status.currentHandlerName(), QStringLiteral("Ostrel"));
}

TEST_F(DefaultAppStatusTest, HandlerWithoutDesktopFileIsNamedByItsId) {
    // defaults.list entries are taken as they stand, even when nothing is installed.
    writeFile(system / "defaults.list",
              "[Default Applications]\napplication/vnd.rar=ghost-viewer.desktop\n");

    DefaultAppStatus status;
    ASSERT_TRUE(waitForRefresh(status));
    EXPECT_FALSE(status.isDefault());
    EXPECT_EQ(status.currentHandlerName(), QStringLiteral("ghost-viewer"));
}

TEST_F(DefaultAppStatusTest, NoHandlerAtAll) {
    installDesktopFile(home, "org.ostrel.Ostrel.desktop", "Ostrel");

    DefaultAppStatus status;
    ASSERT_TRUE(waitForRefresh(status));
    EXPECT_FALSE(status.isDefault());
    EXPECT_EQ(status.currentHandlerName(), QString());
}

TEST_F(DefaultAppStatusTest, MakeDefaultRecordsEveryRarTypeThenRefreshes) {
    installDesktopFile(home, "org.ostrel.Ostrel.desktop", "Ostrel");
    installDesktopFile(system, "viewer.desktop", "Archive Viewer");
    recordDefault("viewer.desktop");
    DefaultAppStatus status;
    ASSERT_TRUE(waitForRefresh(status));
    ASSERT_EQ(status.currentHandlerName(), QStringLiteral("Archive Viewer"));

    QSignalSpy becameDefault(&status, &DefaultAppStatus::isDefaultChanged);
    QSignalSpy nameChanged(&status, &DefaultAppStatus::currentHandlerNameChanged);
    status.makeDefault();
    ASSERT_TRUE(waitForRefresh(status));
    EXPECT_TRUE(status.isDefault());
    EXPECT_EQ(status.currentHandlerName(), QString());
    EXPECT_EQ(becameDefault.count(), 1);
    EXPECT_EQ(nameChanged.count(), 1);

    const std::string record = readFile(dir / "config/mimeapps.list");
    for (const char* line : {"application/vnd.rar=org.ostrel.Ostrel.desktop\n",
                             "application/x-rar=org.ostrel.Ostrel.desktop\n",
                             "application/x-rar-compressed=org.ostrel.Ostrel.desktop\n"}) {
        EXPECT_NE(record.find(line), std::string::npos) << line << " in\n" << record;
    }
}

// Each type is judged on its own, by the same rules as RAR, from what the
// desktop records for it.
TEST_F(DefaultAppStatusTest, EachArchiveTypeHasItsOwnStatus) {
    installDesktopFile(home, "org.ostrel.Ostrel.desktop", "Ostrel");
    installDesktopFile(system, "viewer.desktop", "Archive Viewer");
    writeFile(dir / "config/mimeapps.list",
              "[Default Applications]\napplication/zip=viewer.desktop;\n"
              "application/x-7z-compressed=org.ostrel.Ostrel.desktop;\n"
              // An alias is not its type: the record goes by the type's name.
              "application/x-gzip=org.ostrel.Ostrel.desktop;\n");
    writeFile(system / "defaults.list",
              "[Default Applications]\napplication/x-xz=ghost-viewer.desktop\n");

    DefaultAppStatus status;
    ASSERT_TRUE(waitForRefresh(status));
    const std::map<QString, std::pair<bool, QString>> expected{
        {"application/zip", {false, "Archive Viewer"}},
        {"application/x-7z-compressed", {true, ""}},
        {"application/x-xz", {false, "ghost-viewer"}},
    };
    ASSERT_EQ(status.typeStatuses().size(), archiveTypes().size());
    for (qsizetype i = 0; i < archiveTypes().size(); ++i) {
        const DefaultAppStatus::TypeStatus& type = status.typeStatuses()[i];
        EXPECT_EQ(type.type, archiveTypes()[i]);
        const auto found = expected.find(type.type.name);
        const std::pair<bool, QString> want =
            found == expected.end() ? std::pair<bool, QString>{false, ""} : found->second;
        EXPECT_EQ(type.isDefault, want.first) << type.type.name.toStdString();
        EXPECT_EQ(type.handlerName, want.second) << type.type.name.toStdString();
    }
    EXPECT_FALSE(status.isDefaultForAll());
    EXPECT_FALSE(status.isDefault());
}

TEST_F(DefaultAppStatusTest, MakeDefaultForAllRecordsEveryTypeAndAliasAndKeepsTheRest) {
    installDesktopFile(home, "org.ostrel.Ostrel.desktop", "Ostrel");
    installDesktopFile(system, "viewer.desktop", "Archive Viewer");
    installDesktopFile(system, "editor.desktop", "Editor");
    writeFile(dir / "config/mimeapps.list",
              "[Default Applications]\napplication/zip=viewer.desktop;\n"
              "text/plain=editor.desktop;\n");
    DefaultAppStatus status;
    ASSERT_TRUE(waitForRefresh(status));
    ASSERT_FALSE(status.isDefaultForAll());
    ASSERT_EQ(status.typeStatuses().at(1).type.name, QStringLiteral("application/zip"));
    ASSERT_EQ(status.typeStatuses().at(1).handlerName, QStringLiteral("Archive Viewer"));

    QSignalSpy becameDefault(&status, &DefaultAppStatus::isDefaultChanged);
    status.makeDefaultForAll();
    ASSERT_TRUE(waitForRefresh(status));
    EXPECT_TRUE(status.isDefaultForAll());
    EXPECT_TRUE(status.isDefault());
    EXPECT_EQ(becameDefault.count(), 1);
    for (const auto& type : status.typeStatuses()) {
        EXPECT_TRUE(type.isDefault) << type.type.name.toStdString();
        EXPECT_EQ(type.handlerName, QString()) << type.type.name.toStdString();
    }

    const std::string record = readFile(dir / "config/mimeapps.list");
    for (const QString& name : archiveTypeNames()) {
        EXPECT_NE(record.find(name.toStdString() + "=org.ostrel.Ostrel.desktop"), std::string::npos)
            << name.toStdString() << " in\n"
            << record;
    }
    EXPECT_NE(record.find("text/plain=editor.desktop"), std::string::npos) << record;
}

TEST_F(DefaultAppStatusTest, QuickRequestsRunOneAfterAnother) {
    // xdg-mime rewrites mimeapps.list through one temporary file; overlapping
    // runs could mangle it.
    installDesktopFile(home, "org.ostrel.Ostrel.desktop", "Ostrel");
    const std::string log = (dir / "log").string();
    DefaultAppStatus status(kAppId, fakeTool("echo \"start $1\" >> '" + log +
                                             "'\n/usr/bin/xdg-mime \"$@\"; rc=$?\n"
                                             "echo \"end $1\" >> '" +
                                             log + "'\nexit $rc"));
    ASSERT_TRUE(waitForRefresh(status));

    status.makeDefault();
    status.makeDefaultForAll();
    // The first refresh, then each request followed by its own refresh; a
    // refresh asks once for each type.
    const auto types = static_cast<int>(archiveTypes().size());
    auto lines = [&] { return QString::fromStdString(readFile(log)).count(QLatin1String("end")); };
    QTRY_COMPARE_WITH_TIMEOUT(lines(), 3 * types + 2, kWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(status.isDefault(), kWaitMs);

    QString requests;
    for (const QString& line : QString::fromStdString(readFile(log)).split('\n')) {
        if (line.endsWith(QLatin1String(" default"))) {
            requests += line + QLatin1Char(';');
        }
    }
    EXPECT_EQ(requests, QStringLiteral("start default;end default;start default;end default;"));
}

TEST_F(DefaultAppStatusTest, StaleAnswerOfAnEarlierRefreshIsDropped) {
    const std::string slow = (dir / "slow").string();
    const std::string armed = (dir / "armed").string();
    DefaultAppStatus status(kAppId, fakeTool("if [ -e '" + armed + "' ] && mkdir '" + slow +
                                             "' 2>/dev/null; then sleep 0.5; echo stale.desktop; "
                                             "else echo fresh.desktop; fi"));
    ASSERT_TRUE(waitForRefresh(status));

    writeFile(armed, "");
    QSignalSpy refreshed(&status, &DefaultAppStatus::refreshed);
    status.refresh();  // answers late
    QTRY_VERIFY_WITH_TIMEOUT(fs::exists(slow), kWaitMs);
    status.refresh();  // answers at once
    QTRY_COMPARE_WITH_TIMEOUT(refreshed.count(), 1, kWaitMs);
    // Each query is a child process of the status until its answer is handled.
    QTRY_VERIFY_WITH_TIMEOUT(status.findChildren<QProcess*>().isEmpty(), kWaitMs);
    EXPECT_EQ(refreshed.count(), 1);
    EXPECT_EQ(status.currentHandlerName(), QStringLiteral("fresh"));
}

TEST_F(DefaultAppStatusTest, EachRefreshAnnouncesBothFields) {
    DefaultAppStatus status;
    ASSERT_TRUE(waitForRefresh(status));
    QSignalSpy announced(&status, &DefaultAppStatus::aboutToChange);
    QSignalSpy changed(&status, &DefaultAppStatus::isDefaultChanged);
    status.refresh();
    ASSERT_TRUE(waitForRefresh(status));
    EXPECT_EQ(announced.count(), 2);
    EXPECT_EQ(changed.count(), 0);
}

TEST_F(DefaultAppStatusTest, MissingToolReadsAsNotDefaultAndChangesNothing) {
    installDesktopFile(home, "org.ostrel.Ostrel.desktop", "Ostrel");
    installDesktopFile(system, "viewer.desktop", "Archive Viewer");
    recordDefault("viewer.desktop");
    const std::string before = readFile(dir / "config/mimeapps.list");
    DefaultAppStatus status;
    ASSERT_TRUE(waitForRefresh(status));
    ASSERT_EQ(status.currentHandlerName(), QStringLiteral("Archive Viewer"));

    fs::create_directories(dir / "empty");
    environment.set("PATH", dir / "empty");
    status.refresh();
    ASSERT_TRUE(waitForRefresh(status));
    EXPECT_FALSE(status.isDefault());
    EXPECT_EQ(status.currentHandlerName(), QString());

    status.makeDefault();
    ASSERT_TRUE(waitForRefresh(status));
    EXPECT_FALSE(status.isDefault());
    EXPECT_EQ(readFile(dir / "config/mimeapps.list"), before);
}

TEST_F(DefaultAppStatusTest, FailingToolReadsAsNotDefault) {
    // Whatever a failing run prints is not an answer.
    DefaultAppStatus status(kAppId, fakeTool("echo org.ostrel.Ostrel.desktop; exit 3"));
    ASSERT_TRUE(waitForRefresh(status));
    EXPECT_FALSE(status.isDefault());
    EXPECT_EQ(status.currentHandlerName(), QString());
}

TEST_F(DefaultAppStatusTest, HangingToolIsKilledAndReadsAsNotDefault) {
    DefaultAppStatus status(kAppId, fakeTool("echo org.ostrel.Ostrel.desktop; exec sleep 60"),
                            300ms);
    QSignalSpy refreshed(&status, &DefaultAppStatus::refreshed);
    ASSERT_TRUE(refreshed.wait(5000));
    EXPECT_FALSE(status.isDefault());

    // A request that hangs is given up too, and the refresh still follows.
    status.makeDefault();
    ASSERT_TRUE(refreshed.wait(5000));
    EXPECT_FALSE(status.isDefault());
}

TEST_F(DefaultAppStatusTest, RequestOutlivesTheStatusThatMadeIt) {
    const fs::path marker = dir / "recorded";
    const QString tool = fakeTool("if [ \"$1\" = default ]; then sleep 0.3; touch '" +
                                  marker.string() + "'; else exec sleep 60; fi");
    {
        DefaultAppStatus status(kAppId, tool);  // its query never answers
        status.makeDefault();
    }
    // Gone without waiting for its query; the request completes by itself
    // and its refresh is dropped.
    QTRY_VERIFY_WITH_TIMEOUT(fs::exists(marker), kWaitMs);
    // The request's process is the application's until its end has been
    // handled; then it is deleted.
    EXPECT_TRUE(QTest::qWaitFor(
        [] {
            return QCoreApplication::instance()
                ->findChildren<QProcess*>(Qt::FindDirectChildrenOnly)
                .isEmpty();
        },
        kWaitMs));
}

}  // namespace
}  // namespace tovani
