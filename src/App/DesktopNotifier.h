// DesktopNotifier shows notifications through org.freedesktop.Notifications
// on the session bus and runs a notification's action when the user picks
// it. An action is awaited until the notification closes, at most
// actionLifetime; without a service (or a bus) nothing happens.
//
//   DesktopNotifier notifier;  // session bus
//   notifier.notify("Extracted “movie.rar”", "in Downloads", [&] { files.reveal(output); });
//   DesktopNotifier probe(QDBusConnection::connectToBus(address, "test"));
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <map>

#include "App/Notifier.h"

namespace tovani {

class DesktopNotifier : public QObject, public Notifier {
    Q_OBJECT

public:
    static inline const QString service = QStringLiteral("org.freedesktop.Notifications");
    static inline const QString objectPath = QStringLiteral("/org/freedesktop/Notifications");
    static inline const QString interface = QStringLiteral("org.freedesktop.Notifications");
    static inline const QString showAction = QStringLiteral("show");
    // How long the app waits for an action before it stops listening.
    static constexpr std::chrono::seconds actionLifetime{10};
    static constexpr int callTimeoutMs = 5'000;

    DesktopNotifier();
    explicit DesktopNotifier(QDBusConnection bus);

    void notify(const QString& summary, const QString& body, std::function<void()> onShow) override;
    bool awaitsAction() const override;

signals:
    // The service has said whether it reads markup.
    void capabilitiesKnown();

private slots:
    void actionInvoked(uint id, const QString& action);
    void notificationClosed(uint id, uint reason);

private:
    QDBusConnection bus_;
    // Notifications whose action may still come, by id.
    std::map<uint, std::function<void()>> actions_;
    // Calls sent whose id is not known yet.
    int unanswered_ = 0;
    // Whether the service reads the body as markup; until it has said, it is
    // taken to, as nearly every service does, so a name is escaped rather
    // than rendered.
    bool bodyMarkup_ = true;
};

}  // namespace tovani
