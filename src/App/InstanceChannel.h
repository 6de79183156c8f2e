// InstanceChannel keeps one Ostrel running per user. A launch first offers
// its files to the instance already running, over a local socket in the
// user's runtime directory, and ends once that instance has acknowledged
// them; when no instance answers, the launch becomes the one that listens
// and handles its files itself. Files are never dropped on the way: a launch
// whose files were not acknowledged keeps them.
//
//   InstanceChannel channel(InstanceChannel::defaultName());
//   if (channel.start(files) == InstanceChannel::Role::handedOver) return 0;
//   connect(&channel, &InstanceChannel::requested, &delegate, ...);  // later launches
//   connect(&delegate, &AppDelegate::quitting, &channel, &InstanceChannel::close);
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <chrono>
#include <memory>

class QLocalServer;
class QLocalSocket;

namespace tovani {

class InstanceChannel : public QObject {
    Q_OBJECT

public:
    enum class Role {
        // The running instance took the files: this launch is done.
        handedOver,
        // This launch is now the running instance and listens for others.
        server,
        // Neither: this launch handles its files without listening.
        standalone,
    };

    // How long a launch waits for the running instance to take its files.
    static constexpr std::chrono::milliseconds defaultAckTimeout{3000};

    // The user's socket: "<app id>-<uid>" in the user's runtime directory;
    // empty when there is no private runtime directory.
    static QString defaultName();

    // name is a socket path (or a bare name, which Qt puts in the temporary
    // directory); a lock file beside it is named name + ".lock". With an
    // empty name every launch is standalone.
    explicit InstanceChannel(QString name, std::chrono::milliseconds ackTimeout = defaultAckTimeout,
                             QObject* parent = nullptr);
    ~InstanceChannel() override;

    // Hands files (absolute paths; none means "show yourself") to the running
    // instance, or becomes it. Blocks for at most a few acknowledgement
    // timeouts; call it before the event loop runs, or on a thread of its own.
    Role start(const QStringList& files);

    bool isListening() const;
    const QString& name() const { return name_; }

public slots:
    // Stops listening and drops every request not yet acknowledged, whose
    // launches then handle their files themselves. Nothing is accepted later.
    void close();

signals:
    // Another launch asked for files to be opened (or, without files, for a
    // reopen). The request is acknowledged once the connected slots returned.
    void requested(const QStringList& files);

private:
    enum class Attempt { acknowledged, refused, unresponsive, noServer };
    enum class Takeover { became, taken, impossible };

    Attempt offer(const QStringList& files);
    Takeover becomeServer();
    void acceptConnections();
    void readRequest(QLocalSocket* socket);

    QString name_;
    std::chrono::milliseconds ackTimeout_;
    std::unique_ptr<QLocalServer> server_;
    bool closed_ = false;
};

}  // namespace tovani
