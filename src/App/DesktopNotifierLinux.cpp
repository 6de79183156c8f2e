#include "App/DesktopNotifier.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>

namespace tovani {

std::unique_ptr<Notifier> makeDesktopNotifier() {
    return std::make_unique<DesktopNotifier>();
}

DesktopNotifier::DesktopNotifier() : DesktopNotifier(QDBusConnection::sessionBus()) {}

DesktopNotifier::DesktopNotifier(QDBusConnection bus) : bus_(std::move(bus)) {
    if (!bus_.isConnected()) {
        return;
    }
    bus_.connect(service, objectPath, interface, QStringLiteral("ActionInvoked"), this,
                 SLOT(actionInvoked(uint, QString)));
    bus_.connect(service, objectPath, interface, QStringLiteral("NotificationClosed"), this,
                 SLOT(notificationClosed(uint, uint)));
    const QDBusMessage capabilities = QDBusMessage::createMethodCall(
        service, objectPath, interface, QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(capabilities, callTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<QStringList> reply = *finished;
                if (!reply.isError()) {
                    bodyMarkup_ = reply.value().contains(QStringLiteral("body-markup"));
                    emit capabilitiesKnown();
                }
            });
}

void DesktopNotifier::notify(const QString& summary, const QString& body,
                             std::function<void()> onShow) {
    if (!bus_.isConnected()) {
        return;
    }
    QStringList actions;
    if (onShow) {
        // "default" is what a click on the notification itself sends.
        actions << QStringLiteral("default") << tr("Show in File Manager") << showAction
                << tr("Show in File Manager");
    }
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral(OSTREL_APP_ID));
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, objectPath, interface, QStringLiteral("Notify"));
    // The summary is plain text by the protocol; the body is markup where the
    // service says so, and a name in it must never be rendered.
    call << QCoreApplication::applicationName() << uint(0) << QStringLiteral(OSTREL_APP_ID)
         << summary << (bodyMarkup_ ? body.toHtmlEscaped() : body) << actions << hints << int(-1);
    ++unanswered_;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, callTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, onShow = std::move(onShow)](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                --unanswered_;
                const QDBusPendingReply<uint> reply = *finished;
                // No service, or it refused: nothing to say, nothing to wait for.
                if (reply.isError() || !onShow) {
                    return;
                }
                const uint id = reply.value();
                actions_[id] = onShow;
                QTimer::singleShot(actionLifetime, this, [this, id] { actions_.erase(id); });
            });
}

bool DesktopNotifier::awaitsAction() const {
    return unanswered_ > 0 || !actions_.empty();
}

void DesktopNotifier::actionInvoked(uint id, const QString& action) {
    const auto found = actions_.find(id);
    if (found == actions_.end() || (action != showAction && action != QStringLiteral("default"))) {
        return;
    }
    const std::function<void()> onShow = found->second;
    actions_.erase(found);
    onShow();
}

void DesktopNotifier::notificationClosed(uint id, uint) {
    actions_.erase(id);
}

}  // namespace tovani
