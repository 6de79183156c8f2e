#include "Settings/DefaultAppStatus.h"

#include <QCoreApplication>
#include <QPointer>
#include <QProcess>
#include <QTimer>
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

DefaultAppStatus::DefaultAppStatus(QString desktopId, QString xdgMimeProgram,
                                   std::chrono::milliseconds toolTimeout, QObject* parent)
    : QObject(parent),
      desktopId_(std::move(desktopId)),
      program_(std::move(xdgMimeProgram)),
      toolTimeout_(toolTimeout) {
    refresh();
}

DefaultAppStatus::~DefaultAppStatus() {
    // A QProcess destroyed while running waits for its end and reports it to
    // its connections; stop the queries first, so that no answer reaches a
    // half-destroyed status.
    for (QProcess* query : findChildren<QProcess*>(Qt::FindDirectChildrenOnly)) {
        query->disconnect();
        query->kill();
        query->waitForFinished();
        delete query;
    }
}

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

void DefaultAppStatus::runTool(const QStringList& arguments, QObject* owner,
                               Completion completion) const {
    auto* process = new QProcess(owner);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());

    auto* watchdog = new QTimer(process);
    watchdog->setSingleShot(true);
    connect(watchdog, &QTimer::timeout, process, &QProcess::kill);

    // Called once: either the process ran and finished (exited, crashed or
    // was killed), or it never started.
    auto finish = [process, completion = std::move(completion)](bool succeeded) {
        process->disconnect();
        const QByteArray output = succeeded ? process->readAllStandardOutput() : QByteArray();
        process->deleteLater();
        completion(succeeded, output);
    };
    connect(process, &QProcess::finished, process,
            [process, finish](int exitCode, QProcess::ExitStatus status) {
                finish(status == QProcess::NormalExit && exitCode == 0);
            });
    // Queued, so that a tool that cannot start still answers later, never
    // from inside the call that asked.
    connect(
        process, &QProcess::errorOccurred, process,
        [finish](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart) {
                finish(false);
            }
        },
        Qt::QueuedConnection);

    watchdog->start(toolTimeout_);
    process->start(program_, arguments, QIODevice::ReadOnly);
}

void DefaultAppStatus::apply(const QString& handlerId) {
    const bool isDefault = !handlerId.isEmpty() && handlerId == desktopId_;
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

void DefaultAppStatus::setIsDefault(bool value) {
    emit aboutToChange();
    const bool changed = isDefault_ != value;
    isDefault_ = value;
    if (changed) {
        emit isDefaultChanged(value);
    }
}

void DefaultAppStatus::setCurrentHandlerName(const QString& value) {
    emit aboutToChange();
    const bool changed = currentHandlerName_ != value;
    currentHandlerName_ = value;
    if (changed) {
        emit currentHandlerNameChanged(value);
    }
}

}  // namespace tovani
