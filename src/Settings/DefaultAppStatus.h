// DefaultAppStatus tells whether Ostrel is the desktop's default application
// for RAR archives and, when another application is, which one; the same for
// each of the other archive types it opens (ArchiveTypes). On request it makes
// Ostrel the default for RAR, or for every one of those types. The desktop's
// own record (read and written with xdg-mime, never blocking the caller) is
// the only source of truth.
//
//   auto* status = new DefaultAppStatus(window);   // refreshes at once
//   QObject::connect(status, &DefaultAppStatus::refreshed, label,
//                    [=] { label->setText(status->currentHandlerName()); });
//   if (!status->isDefault()) status->makeDefault();  // a refresh follows
//   for (const auto& type : status->typeStatuses()) {
//       qDebug() << readableName(type.type) << type.isDefault << type.handlerName;
//   }
//   if (!status->isDefaultForAll()) status->makeDefaultForAll();
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>

#include "Settings/ArchiveTypes.h"

namespace tovani {

class DefaultAppStatus : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isDefault READ isDefault NOTIFY isDefaultChanged)
    Q_PROPERTY(QString currentHandlerName READ currentHandlerName NOTIFY currentHandlerNameChanged)

public:
    // The MIME type of RAR archives, and the older names the same content
    // goes by; the first of archiveTypes().
    static inline const QString archiveType = QStringLiteral("application/vnd.rar");
    static inline const QStringList archiveTypeAliases = {
        QStringLiteral("application/x-rar"), QStringLiteral("application/x-rar-compressed")};
    static constexpr std::chrono::milliseconds defaultToolTimeout{10'000};

    // Ostrel's own desktop file id, e.g. "org.ostrel.Ostrel.desktop".
    static QString appDesktopId();

    // Status of Ostrel's own desktop file, read and set with `xdg-mime` from PATH.
    explicit DefaultAppStatus(QObject* parent = nullptr);
    // Status of another desktop file id, asked of another program (tests); a
    // tool run that takes longer than `toolTimeout` is killed and counts as failed.
    DefaultAppStatus(QString desktopId, QString xdgMimeProgram,
                     std::chrono::milliseconds toolTimeout = defaultToolTimeout,
                     QObject* parent = nullptr);
    ~DefaultAppStatus() override;

    // False until a refresh has read that this application is the default:
    // the recorded desktop file is this app's id and its Exec= starts this
    // very program.
    bool isDefault() const { return isDefault_; }
    // The name of the application that is the default when it is another one
    // (its desktop file's Name=, else its desktop file id without
    // ".desktop"); empty when this application is the default or none is known.
    QString currentHandlerName() const { return currentHandlerName_; }
    const QString& desktopId() const { return desktopId_; }

    // What the desktop records for one archive type, judged as for RAR above.
    struct TypeStatus {
        ArchiveType type;
        bool isDefault = false;
        QString handlerName;  // as currentHandlerName(), for this type
    };
    // One per archiveTypes(), in that order, RAR first; "not the default, no
    // handler" for each until the first refresh has been applied.
    const QList<TypeStatus>& typeStatuses() const { return typeStatuses_; }
    // True once a refresh has read that this application is the default for
    // every archive type.
    bool isDefaultForAll() const;

public slots:
    // Asks for the current default of every archive type at once; both
    // fields and the type statuses are assigned when the last answer arrives.
    // When several refreshes overlap, only the last one started is applied. A
    // missing, failing or hanging tool reads as "not the default, no handler"
    // for the type it was asked about.
    void refresh();
    // Asks for this application to become the default for RAR archives; when
    // the request has completed, successful or not, refresh() runs. Requests
    // of both kinds run one after another.
    void makeDefault();
    // The same for every archive type and each of its aliases, in one request.
    void makeDefaultForAll();

signals:
    // Emitted before each assignment of a field, also when its value stays.
    void aboutToChange();
    void isDefaultChanged(bool isDefault);
    void currentHandlerNameChanged(const QString& name);
    // Emitted after a refresh's answers have been applied to both fields and
    // to the type statuses.
    void refreshed();

private:
    using Completion = std::function<void(bool succeeded, const QByteArray& output)>;

    void runTool(const QStringList& arguments, QObject* owner, Completion completion) const;
    // handlerIds holds the answer for each of archiveTypes(), in order.
    void apply(const QStringList& handlerIds);
    TypeStatus judge(const ArchiveType& type, const QString& handlerId) const;
    void request(QStringList mimeTypes);
    void startNextRequest();
    void setIsDefault(bool value);
    void setCurrentHandlerName(const QString& value);

    QString desktopId_;
    QString program_;
    std::chrono::milliseconds toolTimeout_;
    bool isDefault_ = false;
    QString currentHandlerName_;
    QList<TypeStatus> typeStatuses_;
    quint64 refreshGeneration_ = 0;
    bool requestRunning_ = false;
    QList<QStringList> requestsWaiting_;  // the MIME types of each request
};

}  // namespace tovani
