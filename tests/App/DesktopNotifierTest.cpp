#include "App/DesktopNotifier.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>

#include "App/PrivateBus.h"
#include "App/QueueTestSupport.h"

namespace tovani::testing {
namespace {

// Answers Notify as a notification server would, numbering from 7, and keeps
// the arguments; it can send the signals a server sends.
class FakeNotificationServer : public QDBusVirtualObject {
public:
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.interface() != DesktopNotifier::interface) {
            return false;
        }
        if (message.member() == QStringLiteral("GetCapabilities")) {
            connection.send(message.createReply(QVariant::fromValue(capabilities)));
            return true;
        }
        if (message.member() != QStringLiteral("Notify")) {
            return false;
        }
        calls.append(message.arguments());
        connection.send(message.createReply(QVariant::fromValue(uint(6 + calls.size()))));
        return true;
    }
    void emitSignal(QDBusConnection& connection, const QString& name, const QVariantList& args) {
        QDBusMessage signal = QDBusMessage::createSignal(DesktopNotifier::objectPath,
                                                         DesktopNotifier::interface, name);
        signal.setArguments(args);
        connection.send(signal);
    }

    QList<QVariantList> calls;
    QStringList capabilities{QStringLiteral("actions"), QStringLiteral("body-markup")};
};

class DesktopNotifierTest : public ::testing::Test {
protected:
    void SetUp() override {
        queue::ensureApplication();
        if (!bus.running()) {
            GTEST_SKIP() << "dbus-daemon is not available";
        }
    }

    PrivateBus bus;
};

TEST_F(DesktopNotifierTest, NotifiesWithPlainSummaryAndRunsShowItOnlyForItsOwnNotification) {
    QDBusConnection service = bus.connect(QStringLiteral("fake-notifications"));
    FakeNotificationServer fake;
    ASSERT_TRUE(service.registerService(DesktopNotifier::service));
    ASSERT_TRUE(service.registerVirtualObject(DesktopNotifier::objectPath, &fake));

    DesktopNotifier notifier(bus.connect(QStringLiteral("app")));
    int shown = 0;
    notifier.notify("Extracted “<b>a</b>.rar”", "in <i>x</i> & y", [&] { ++shown; });
    notifier.notify("“b.rar” is damaged.", "", {});
    EXPECT_TRUE(notifier.awaitsAction());
    ASSERT_TRUE(queue::waitFor([&] { return fake.calls.size() == 2; }));

    const QVariantList first = fake.calls[0];
    ASSERT_EQ(first.size(), 8);
    EXPECT_EQ(first[0].toString(), QCoreApplication::applicationName());
    EXPECT_EQ(first[3].toString(), "Extracted “<b>a</b>.rar”");
    // A server that reads markup gets the body escaped: no name is rendered.
    EXPECT_EQ(first[4].toString(), "in &lt;i&gt;x&lt;/i&gt; &amp; y");
    EXPECT_EQ(first[5].toStringList(),
              QStringList({"default", "Show in File Manager", "show", "Show in File Manager"}));
    EXPECT_EQ(fake.calls[1][5].toStringList(), QStringList());

    // An action of another notification (or an unknown one) does nothing.
    fake.emitSignal(service, "ActionInvoked", {uint(8), QStringLiteral("show")});
    fake.emitSignal(service, "ActionInvoked", {uint(7), QStringLiteral("other")});
    fake.emitSignal(service, "ActionInvoked", {uint(7), QStringLiteral("show")});
    ASSERT_TRUE(queue::waitFor([&] { return shown == 1; }));
    EXPECT_FALSE(notifier.awaitsAction());
    // Served once only.
    fake.emitSignal(service, "ActionInvoked", {uint(7), QStringLiteral("default")});
    queue::waitFor([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(shown, 1);
    service.unregisterObject(DesktopNotifier::objectPath);
}

TEST_F(DesktopNotifierTest, AServerWithoutMarkupGetsTheBodyAsItIs) {
    QDBusConnection service = bus.connect(QStringLiteral("fake-notifications-plain"));
    FakeNotificationServer fake;
    fake.capabilities = {QStringLiteral("actions")};
    ASSERT_TRUE(service.registerService(DesktopNotifier::service));
    ASSERT_TRUE(service.registerVirtualObject(DesktopNotifier::objectPath, &fake));
    DesktopNotifier notifier(bus.connect(QStringLiteral("app-plain")));
    bool known = false;
    QObject::connect(&notifier, &DesktopNotifier::capabilitiesKnown, [&] { known = true; });
    ASSERT_TRUE(queue::waitFor([&] { return known; }));
    notifier.notify("Extracted “a.rar”", "in R&D", {});
    ASSERT_TRUE(queue::waitFor([&] { return !fake.calls.isEmpty(); }));
    EXPECT_EQ(fake.calls[0][4].toString(), "in R&D");
    service.unregisterObject(DesktopNotifier::objectPath);
}

TEST_F(DesktopNotifierTest, AClosedNotificationIsNoLongerAwaited) {
    QDBusConnection service = bus.connect(QStringLiteral("fake-notifications-2"));
    FakeNotificationServer fake;
    ASSERT_TRUE(service.registerService(DesktopNotifier::service));
    ASSERT_TRUE(service.registerVirtualObject(DesktopNotifier::objectPath, &fake));
    DesktopNotifier notifier(bus.connect(QStringLiteral("app-2")));
    notifier.notify("Extracted “a.rar”", "", [] {});
    ASSERT_TRUE(queue::waitFor([&] { return !fake.calls.isEmpty(); }));
    fake.emitSignal(service, "NotificationClosed", {uint(7), uint(1)});
    EXPECT_TRUE(queue::waitFor([&] { return !notifier.awaitsAction(); }));
    service.unregisterObject(DesktopNotifier::objectPath);
}

TEST_F(DesktopNotifierTest, WithoutAServiceNothingHappensAndNothingIsAwaited) {
    DesktopNotifier notifier(bus.connect(QStringLiteral("lonely")));
    notifier.notify("Extracted “a.rar”", "", [] { ADD_FAILURE() << "no action can come"; });
    EXPECT_TRUE(queue::waitFor([&] { return !notifier.awaitsAction(); }));

    DesktopNotifier unconnected(QDBusConnection(QStringLiteral("no such connection")));
    unconnected.notify("Extracted “a.rar”", "", [] {});
    EXPECT_FALSE(unconnected.awaitsAction());
}

}  // namespace
}  // namespace tovani::testing
