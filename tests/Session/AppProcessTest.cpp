// The real app in the session: it speaks the user's language, names its
// windows as its desktop file says, and ends cleanly on SIGTERM or SIGHUP,
// taking its unfinished workspace with it.
#include <gtest/gtest.h>
#include <signal.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <random>

#include "XSession.h"
#include "support/RarTool.h"
#include "support/TempDirectory.h"

namespace tovani::testing {
namespace {

namespace fs = std::filesystem;

class AppProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!XSession::ready()) {
            GTEST_SKIP() << "no X session (Xvfb, openbox)";
        }
    }
    void TearDown() override {
        if (app.state() != QProcess::NotRunning) {
            app.kill();
            app.waitForFinished(10000);
        }
    }

    void start(const QStringList& arguments, const QString& language = "en_US.UTF-8") {
        QProcessEnvironment environment = XSession::childEnvironment();
        environment.insert("LANG", language);
        environment.remove("LANGUAGE");
        environment.remove("LC_ALL");
        environment.remove("LC_MESSAGES");
        app.setProcessEnvironment(environment);
        app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        app.start(QStringLiteral(OSTREL_APP_PATH), arguments);
        ASSERT_TRUE(app.waitForStarted(10000));
    }

    // The app's managed window whose title is title, or 0.
    unsigned long windowTitled(const QString& title) {
        for (const unsigned long window : XSession::stacking()) {
            if (XSession::textProperty(window, "_NET_WM_NAME") == QStringList{title}) {
                return window;
            }
        }
        return 0;
    }

    // Waits for the app to end by itself; true when it exited with status 0.
    bool exitsCleanly() {
        XSession::waitUntil([&] { return app.state() == QProcess::NotRunning; }, 30000);
        return app.state() == QProcess::NotRunning && app.exitStatus() == QProcess::NormalExit &&
               app.exitCode() == 0;
    }

    QProcess app;
};

QString desktopFileValue(const QString& key) {
    QFile file(QStringLiteral(OSTREL_SOURCE_DIR "/src/Resources/org.ostrel.Ostrel.desktop"));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QRegularExpressionMatch match =
        QRegularExpression("^" + key + "=(.*)$", QRegularExpression::MultilineOption)
            .match(QString::fromUtf8(file.readAll()));
    return match.captured(1);
}

TEST_F(AppProcessTest, UnderAGermanLocaleTheSettingsWindowIsGermanAndClassedAsTheDesktopFileSays) {
    start({}, "de_DE.UTF-8");
    unsigned long window = 0;
    ASSERT_TRUE(XSession::waitUntil(
        [&] { return (window = windowTitled("Ostrel – Einstellungen")); }, 20000))
        << "no German settings window";
    const QString wmClass = desktopFileValue("StartupWMClass");
    ASSERT_FALSE(wmClass.isEmpty());
    EXPECT_EQ(XSession::textProperty(window, "WM_CLASS").value(1), wmClass);

    ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
    EXPECT_TRUE(exitsCleanly());
}

// Random bytes, stored: extraction takes long enough to be caught mid-way.
fs::path bigArchive(const fs::path& directory) {
    const fs::path sources = directory / "sources";
    fs::create_directories(sources);
    std::ofstream out(sources / "big.bin", std::ios::binary);
    std::mt19937_64 random(14);
    std::vector<std::uint64_t> block(1 << 16);
    for (int i = 0; i < 512; ++i) {  // 256 MiB
        for (std::uint64_t& word : block) {
            word = random();
        }
        out.write(reinterpret_cast<const char*>(block.data()),
                  static_cast<std::streamsize>(block.size() * sizeof(std::uint64_t)));
    }
    out.close();
    const fs::path folder = directory / "downloads";
    fs::create_directories(folder);
    const fs::path archive = rar(sources, (folder / "big.rar").string(), {"-m0"}, {"big.bin"});
    fs::remove_all(sources);
    return archive;
}

std::vector<std::string> workspacesIn(const fs::path& folder) {
    std::vector<std::string> found;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(".extract-")) {
            found.push_back(name);
        }
    }
    return found;
}

class TerminatedMidExtraction : public AppProcessTest, public ::testing::WithParamInterface<int> {};

TEST_P(TerminatedMidExtraction, CancelsTheJobRemovesItsWorkspaceAndExitsCleanly) {
    TempDirectory dir;
    const fs::path archive = bigArchive(dir.path());
    const fs::path folder = archive.parent_path();
    start({QFile::decodeName(archive.c_str())});
    const pid_t pid = static_cast<pid_t>(app.processId());

    // Caught with its workspace in place, then held still while the signal
    // is sent, so the job is surely mid-way when it arrives.
    ASSERT_TRUE(XSession::waitUntil([&] { return !workspacesIn(folder).empty(); }, 30000));
    ::kill(pid, SIGSTOP);
    ASSERT_FALSE(workspacesIn(folder).empty()) << "the job ended before it was paused";
    ::kill(pid, GetParam());
    ::kill(pid, SIGCONT);

    EXPECT_TRUE(exitsCleanly());
    EXPECT_TRUE(workspacesIn(folder).empty());
    EXPECT_EQ(directoryNames(folder), (std::set<std::string>{"big.rar"}));
}

// The app's decoders, found through the kernel's list of each thread's children.
std::vector<pid_t> decodersOf(pid_t app) {
    std::vector<pid_t> found;
    std::error_code error;
    for (const fs::directory_entry& task :
         fs::directory_iterator("/proc/" + std::to_string(app) + "/task", error)) {
        std::ifstream children(task.path() / "children");
        for (pid_t child; children >> child;) {
            std::ifstream comm("/proc/" + std::to_string(child) + "/comm");
            std::string name;
            if (std::getline(comm, name) && name == "ostrel-decoder") {
                found.push_back(child);
            }
        }
    }
    return found;
}

TEST_F(AppProcessTest, EscapeOnTheProgressWindowCancelsWithoutAClickFirst) {
    TempDirectory dir;
    const fs::path archive = bigArchive(dir.path());
    const fs::path folder = archive.parent_path();
    start({QFile::decodeName(archive.c_str())});
    const pid_t pid = static_cast<pid_t>(app.processId());

    // The extraction's decoder is held still, so the job outlives the
    // window's appearance and the key surely arrives mid-way.
    std::vector<pid_t> decoders;
    ASSERT_TRUE(XSession::waitUntil(
        [&] { return !workspacesIn(folder).empty() && !(decoders = decodersOf(pid)).empty(); },
        30000));
    for (const pid_t decoder : decoders) {
        ::kill(decoder, SIGSTOP);
    }
    unsigned long window = 0;
    const bool focused = XSession::waitUntil(
        [&] { return (window = windowTitled("Ostrel")) && XSession::activeWindow() == window; },
        10000);
    if (focused) {
        // To whatever has the keyboard focus, as a key press of the user's.
        QProcess::execute("xdotool", {"key", "Escape"});
    }
    for (const pid_t decoder : decoders) {
        ::kill(decoder, SIGCONT);
    }
    ASSERT_TRUE(focused) << "the progress window never took the focus";

    EXPECT_TRUE(exitsCleanly());
    EXPECT_TRUE(workspacesIn(folder).empty());
    EXPECT_EQ(directoryNames(folder), (std::set<std::string>{"big.rar"}));
}

// The session's notification service: keeps what it is sent.
class NotificationRecorder : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() == QStringLiteral("GetCapabilities")) {
            connection.send(message.createReply(
                QVariant(QStringList{QStringLiteral("actions"), QStringLiteral("body-markup")})));
            return true;
        }
        if (message.member() != QStringLiteral("Notify")) {
            return false;
        }
        sent.append(message.arguments());
        connection.send(message.createReply(QVariant::fromValue(uint(sent.size()))));
        return true;
    }
    QList<QVariantList> sent;
};

TEST_F(AppProcessTest, AQuickFailureIsOneAlertAloneAndAQuickSuccessNotifiesWhereItWent) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    NotificationRecorder notifications;
    ASSERT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.Notifications")));
    ASSERT_TRUE(bus.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"),
                                          &notifications));
    TempDirectory dir;
    const fs::path folder = dir / "Downloads";
    fs::create_directories(folder);
    writeFile(folder / "broken.rar", "no archive at all");

    start({QFile::decodeName((folder / "broken.rar").c_str())});
    unsigned long alert = 0;
    ASSERT_TRUE(XSession::waitUntil([&] { return (alert = windowTitled("Ostrel")); }, 20000));
    ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
    EXPECT_TRUE(exitsCleanly());
    // Whatever the app sent reached the bus before it went away; one round
    // trip through the bus lets it arrive here.
    (void)bus.interface()->registeredServiceNames();
    QCoreApplication::processEvents();
    EXPECT_TRUE(notifications.sent.isEmpty()) << "a failure has its alert and nothing more";

    writeFile(dir / "sources/recipes.txt", "flour, water, salt");
    rar(dir / "sources", (folder / "Recipes.rar").string(), {}, {"recipes.txt"});
    start({QFile::decodeName((folder / "Recipes.rar").c_str())});
    ASSERT_TRUE(XSession::waitUntil([&] { return !notifications.sent.isEmpty(); }, 20000));
    const QVariantList& success = notifications.sent.front();
    EXPECT_EQ(success.value(3).toString(), "Extracted “Recipes.rar”");
    EXPECT_EQ(success.value(4).toString(), "in Downloads");
    EXPECT_TRUE(fs::exists(folder / "recipes.txt"));
    ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
    EXPECT_TRUE(exitsCleanly());
    EXPECT_EQ(notifications.sent.size(), 1);
    bus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    bus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
}

INSTANTIATE_TEST_SUITE_P(Signals, TerminatedMidExtraction, ::testing::Values(SIGTERM, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == SIGTERM ? "SIGTERM" : "SIGHUP");
                         });

}  // namespace
}  // namespace tovani::testing
