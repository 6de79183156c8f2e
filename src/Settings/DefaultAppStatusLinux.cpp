#include "Settings/DefaultAppStatus.h"

// The desktop's record of default applications, read and written with
// xdg-mime; handlers are named by their desktop entries.

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <memory>

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
    // One query per type, all at once: xdg-mime answers for one type a run.
    // The answers are gathered and applied together when the last arrives.
    const QList<ArchiveType>& types = archiveTypes();
    auto answers = std::make_shared<QStringList>(types.size());
    auto waiting = std::make_shared<qsizetype>(types.size());
    for (qsizetype i = 0; i < types.size(); ++i) {
        // The query process is a child: once this object is gone its answer
        // has nowhere to go.
        runTool({QStringLiteral("query"), QStringLiteral("default"), types[i].name}, this,
                [this, generation, answers, waiting, i](bool succeeded, const QByteArray& output) {
                    (*answers)[i] = succeeded ? firstLine(output) : QString();
                    if (--*waiting > 0 || generation != refreshGeneration_) {
                        return;  // more to come, or a later refresh decides
                    }
                    apply(*answers);
                });
    }
}

void DefaultAppStatus::makeDefault() {
    request(QStringList{archiveType} + archiveTypeAliases);
}

void DefaultAppStatus::makeDefaultForAll() {
    request(archiveTypeNames());
}

void DefaultAppStatus::request(QStringList mimeTypes) {
    requestsWaiting_.append(std::move(mimeTypes));
    // xdg-mime rewrites mimeapps.list through one fixed temporary file, so two
    // concurrent runs could lose or mangle the record: run them in turn.
    if (!requestRunning_) {
        startNextRequest();
    }
}

void DefaultAppStatus::startNextRequest() {
    requestRunning_ = true;
    QStringList arguments{QStringLiteral("default"), desktopId_};
    arguments.append(requestsWaiting_.takeFirst());
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
        if (!self->requestsWaiting_.isEmpty()) {
            self->startNextRequest();
        }
    });
}

DefaultAppStatus::TypeStatus DefaultAppStatus::judge(const ArchiveType& type,
                                                     const QString& handlerId) const {
    // The record names a desktop file; only one that starts this very program
    // is this app. A file left by another copy, or one whose program cannot
    // start, must never pass for it.
    const bool isDefault =
        !handlerId.isEmpty() && handlerId == desktopId_ &&
        DesktopEntry::program(DesktopEntry::findFile(handlerId)) ==
            QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
    QString name;
    if (!isDefault && !handlerId.isEmpty()) {
        name = DesktopEntry::name(DesktopEntry::findFile(handlerId));
        if (name.isEmpty()) {
            name = handlerId.endsWith(kDesktopSuffix) ? handlerId.chopped(kDesktopSuffix.size())
                                                      : handlerId;
        }
    }
    return {type, isDefault, name};
}

void DefaultAppStatus::apply(const QStringList& handlerIds) {
    const QList<ArchiveType>& types = archiveTypes();
    for (qsizetype i = 0; i < types.size(); ++i) {
        typeStatuses_[i] = judge(types[i], handlerIds[i]);
        if (types[i].name == archiveType) {
            setIsDefault(typeStatuses_[i].isDefault);
            setCurrentHandlerName(typeStatuses_[i].handlerName);
        }
    }
    emit refreshed();
}

}  // namespace tovani
