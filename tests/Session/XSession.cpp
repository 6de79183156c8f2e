#include "XSession.h"

#include <sys/stat.h>

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <cstdlib>

#include "support/TempDirectory.h"

namespace tovani::testing {

namespace {

bool sessionReady = false;
QProcessEnvironment sessionEnvironment;

QString xprop(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("xprop"), arguments);
    if (!process.waitForFinished(5000)) {
        return {};
    }
    return QString::fromUtf8(process.readAllStandardOutput());
}

std::vector<unsigned long> windowIds(const QString& text) {
    std::vector<unsigned long> ids;
    QRegularExpressionMatchIterator matches =
        QRegularExpression(QStringLiteral("0x[0-9a-fA-F]+")).globalMatch(text);
    while (matches.hasNext()) {
        ids.push_back(matches.next().captured().toULong(nullptr, 16));
    }
    return ids;
}

// Reads one line from a starting process, for the display number or the bus
// address it prints.
QString firstLine(QProcess& process) {
    if (!process.waitForStarted(10000)) {
        return {};
    }
    QString line;
    for (int i = 0; i < 100 && !line.endsWith('\n'); ++i) {
        if (process.waitForReadyRead(100)) {
            line += QString::fromUtf8(process.readLine());
        }
    }
    return line.trimmed();
}

}  // namespace

struct XSession::Processes {
    QProcess server;
    QProcess bus;
    QProcess windowManager;
    TempDirectory home;
};

XSession::XSession() = default;
XSession::~XSession() = default;

void XSession::SetUp() {
    processes_ = std::make_unique<Processes>();
    Processes& p = *processes_;
    // -displayfd picks a free display and prints its number.
    p.server.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", "1280x800x24",
                                            "-nolisten", "tcp", "-noreset"});
    const QString display = firstLine(p.server);
    if (display.isEmpty()) {
        return;
    }
    qputenv("DISPLAY", (":" + display).toUtf8());
    p.bus.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
    const QString address = firstLine(p.bus);
    if (!address.isEmpty()) {
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
    }
    const std::string home = p.home.path().string();
    for (const char* folder : {"/runtime", "/config", "/data", "/cache"}) {
        ::mkdir((home + folder).c_str(), 0700);
    }
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(home + "/runtime"));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(home + "/config"));
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(home + "/data"));
    qputenv("XDG_CACHE_HOME", QByteArray::fromStdString(home + "/cache"));
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("QT_SCALE_FACTOR", "1");
    p.windowManager.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
    p.windowManager.start(QStringLiteral("openbox"), {"--sm-disable"});
    if (!p.windowManager.waitForStarted(10000)) {
        return;
    }
    static int argc = 1;
    static char name[] = "SessionTests";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
    QCoreApplication::setApplicationName("Ostrel");
    QCoreApplication::setApplicationVersion("1.0.0");
    // The window manager is up once it names its check window and keeps the
    // stacking list: it names the check window early in its start, and a
    // window mapped before it has finished starting may never be managed.
    sessionReady = waitUntil([] {
        return !windowIds(xprop({"-root", "_NET_SUPPORTING_WM_CHECK"})).empty() &&
               xprop({"-root", "_NET_CLIENT_LIST_STACKING"}).contains("(WINDOW)");
    });
    sessionEnvironment = QProcessEnvironment::systemEnvironment();
}

void XSession::TearDown() {
    sessionReady = false;
    delete qApp;
    if (!processes_) {
        return;
    }
    for (QProcess* process : {&processes_->windowManager, &processes_->bus, &processes_->server}) {
        if (process->state() != QProcess::NotRunning) {
            process->terminate();
            if (!process->waitForFinished(5000)) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
    }
    processes_.reset();
}

bool XSession::ready() {
    return sessionReady;
}

QProcessEnvironment XSession::childEnvironment() {
    return sessionEnvironment;
}

std::vector<unsigned long> XSession::stacking() {
    return windowIds(xprop({"-root", "_NET_CLIENT_LIST_STACKING"}));
}

unsigned long XSession::activeWindow() {
    const std::vector<unsigned long> ids = windowIds(xprop({"-root", "_NET_ACTIVE_WINDOW"}));
    return ids.empty() ? 0 : ids.front();
}

unsigned long XSession::transientFor(unsigned long window) {
    const std::vector<unsigned long> ids =
        windowIds(xprop({"-id", QString::number(window), "WM_TRANSIENT_FOR"}));
    return ids.empty() ? 0 : ids.front();
}

QStringList XSession::textProperty(unsigned long window, const char* name) {
    const QString text = xprop({"-id", QString::number(window), QString::fromLatin1(name)});
    QStringList values;
    QRegularExpressionMatchIterator matches =
        QRegularExpression(QStringLiteral("\"((?:[^\"\\\\]|\\\\.)*)\"")).globalMatch(text);
    while (matches.hasNext()) {
        values << matches.next().captured(1);
    }
    return values;
}

bool XSession::waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    return QTest::qWaitFor(condition, timeoutMs);
}

}  // namespace tovani::testing
