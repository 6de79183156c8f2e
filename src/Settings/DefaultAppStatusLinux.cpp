#include "Settings/DefaultAppStatus.h"

// The desktop's record of default applications, read and written with
// xdg-mime; handlers are named by their desktop entries.

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>

#include "Settings/DesktopEntry.h"

#ifndef OSTREL_APP_ID
#error "OSTREL_APP_ID must name the application's reverse-DNS id"
#endif

namespace tovani {

namespace {

constexpr auto kDesktopSuffix = QLatin1String(".desktop");

// xdg-mime prints the handler's desktop file id on its first line, or nothing.
QString firstLine(const QByteArray& output) {
    const qsizetype end = output.indexOf('\n');
    return QString::fromUtf8(end < 0 ? output : output.left(end)).trimmed();
}

}  // namespace

QString DefaultAppStatus::appDesktopId() {
    return QStringLiteral(OSTREL_APP_ID) + kDesktopSuffix;
}

DefaultAppStatus::DefaultAppStatus(QObject* parent)
    : DefaultAppStatus(appDesktopId(), QStringLiteral("xdg-mime"), defaultToolTimeout, parent) {}

void DefaultAppStatus::refresh() {
    const quint64 generation = ++refreshGeneration_;
    // The query process is a child: once this object is gone its answer has
    // nowhere to go.
    runTool({QStringLiteral("query"), QStringLiteral("default"), archiveType}, this,
            [this, generation](bool succeeded, const QByteArray& output) {
                if (generation != refreshGeneration_) {
                    return;  // a later refresh is under way and decides
                }
                apply(succeeded ? firstLine(output) : QString());
            });
}

void DefaultAppStatus::makeDefault() {
    ++requestsWaiting_;
    // xdg-mime rewrites mimeapps.list through one fixed temporary file, so two
    // concurrent runs could lose or mangle the record: run them in turn.
    if (!requestRunning_) {
        startNextRequest();
    }
}

void DefaultAppStatus::startNextRequest() {
    --requestsWaiting_;
    requestRunning_ = true;
    QStringList arguments{QStringLiteral("default"), desktopId_, archiveType};
    arguments.append(archiveTypeAliases);
    // Owned by the application, not by this object: a request that has started
    // completes even when the status goes away, and only its refresh is
    // dropped then.
    QPointer<DefaultAppStatus> self(this);
    runTool(arguments, QCoreApplication::instance(), [self](bool, const QByteArray&) {
        if (!self || QCoreApplication::closingDown()) {
            return;
        }
        self->requestRunning_ = false;
        self->refresh();
        if (self->requestsWaiting_ > 0) {
            self->startNextRequest();
        }
    });
}

void DefaultAppStatus::apply(const QString& handlerId) {
    // The record names a desktop file; only one that starts this very program
    // is this app. A file left by another copy, or one whose program cannot
    // start, must never pass for it.
    const bool isDefault =
        !handlerId.isEmpty() && handlerId == desktopId_ &&
        DesktopEntry::program(DesktopEntry::findFile(handlerId)) ==
            QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
    setIsDefault(isDefault);
    if (isDefault || handlerId.isEmpty()) {
        setCurrentHandlerName(QString());
    } else {
        QString name = DesktopEntry::name(DesktopEntry::findFile(handlerId));
        if (name.isEmpty()) {
            name = handlerId.endsWith(kDesktopSuffix) ? handlerId.chopped(kDesktopSuffix.size())
                                                      : handlerId;
        }
        setCurrentHandlerName(name);
    }
    emit refreshed();
}

}  // namespace tovani
