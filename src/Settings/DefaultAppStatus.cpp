#include "Settings/DefaultAppStatus.h"

#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <memory>

namespace tovani {

DefaultAppStatus::DefaultAppStatus(QString desktopId, QString xdgMimeProgram,
                                   std::chrono::milliseconds toolTimeout, QObject* parent)
    : QObject(parent),
      desktopId_(std::move(desktopId)),
      program_(std::move(xdgMimeProgram)),
      toolTimeout_(toolTimeout) {
    for (const ArchiveType& type : archiveTypes()) {
        typeStatuses_.append({type, false, QString()});
    }
    refresh();
}

bool DefaultAppStatus::isDefaultForAll() const {
    return std::all_of(typeStatuses_.begin(), typeStatuses_.end(),
                       [](const TypeStatus& status) { return status.isDefault; });
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
