#include "App/InstanceChannel.h"

#include <QDataStream>
#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>

namespace tovani {

namespace {

constexpr quint32 requestMagic = 0x4F53544C;  // "OSTL"
constexpr quint32 requestVersion = 1;
constexpr char acknowledgement = '\x06';
constexpr int connectTimeoutMs = 1000;
// Offers that meet an instance on its way out are repeated this often.
constexpr int maxRounds = 5;

// QLockFile::tryLock backs off to sleeps of seconds; the lock is only ever
// held for a moment, so it is asked for again every few milliseconds.
bool lockWithin(QLockFile& lock, std::chrono::milliseconds timeout) {
    const QDeadlineTimer deadline(timeout);
    while (!lock.tryLock(0)) {
        if (deadline.hasExpired() || lock.error() == QLockFile::PermissionError) {
            return false;
        }
        QThread::msleep(5);
    }
    return true;
}

QByteArray encodeRequest(const QStringList& files) {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << requestMagic << requestVersion << files;
    return bytes;
}

}  // namespace

InstanceChannel::InstanceChannel(QString name, std::chrono::milliseconds ackTimeout,
                                 QObject* parent)
    : QObject(parent), name_(std::move(name)), ackTimeout_(ackTimeout) {}

InstanceChannel::~InstanceChannel() {
    close();
}

InstanceChannel::Role InstanceChannel::start(const QStringList& files) {
    if (name_.isEmpty()) {
        return Role::standalone;
    }
    for (int round = 0; round < maxRounds; ++round) {
        switch (offer(files)) {
            case Attempt::acknowledged:
                return Role::handedOver;
            case Attempt::unresponsive:
                // An instance holds the name but does not answer: the files
                // are ours to handle, and its name is not ours to take.
                return Role::standalone;
            case Attempt::refused:
                // The instance was closing; ask whoever listens next.
                continue;
            case Attempt::noServer:
                switch (becomeServer()) {
                    case Takeover::became:
                        return Role::server;
                    case Takeover::impossible:
                        return Role::standalone;
                    case Takeover::taken:
                        continue;  // offer the files to the launch that won
                }
        }
    }
    return Role::standalone;
}

bool InstanceChannel::isListening() const {
    return server_ && server_->isListening();
}

InstanceChannel::Attempt InstanceChannel::offer(const QStringList& files) {
    QLocalSocket socket;
    socket.connectToServer(name_);
    if (!socket.waitForConnected(connectTimeoutMs)) {
        return socket.error() == QLocalSocket::SocketTimeoutError ? Attempt::unresponsive
                                                                  : Attempt::noServer;
    }
    socket.write(encodeRequest(files));
    const QDeadlineTimer deadline(ackTimeout_);
    while (true) {
        if (socket.bytesAvailable() > 0) {
            char answer = 0;
            socket.getChar(&answer);
            return answer == acknowledgement ? Attempt::acknowledged : Attempt::refused;
        }
        if (socket.state() != QLocalSocket::ConnectedState) {
            return Attempt::refused;
        }
        if (deadline.hasExpired()) {
            // Leaving now tells the instance, should it wake up, that this
            // request is withdrawn.
            socket.abort();
            return Attempt::unresponsive;
        }
        if (socket.bytesToWrite() > 0) {
            socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime()));
        } else {
            socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
        }
    }
}

InstanceChannel::Takeover InstanceChannel::becomeServer() {
    // The lock orders launches that find no instance at the same moment, and
    // an instance removing its socket while one of them takes the name.
    QLockFile lock(name_ + QStringLiteral(".lock"));
    if (!lockWithin(lock, ackTimeout_)) {
        return Takeover::impossible;
    }
    {
        QLocalSocket probe;
        probe.connectToServer(name_);
        if (probe.waitForConnected(connectTimeoutMs) ||
            probe.error() == QLocalSocket::SocketTimeoutError) {
            // Another launch became the instance first.
            probe.abort();
            return Takeover::taken;
        }
    }
    // Nothing listens: whatever has the name was left by an instance that died.
    QLocalServer::removeServer(name_);
    auto server = std::make_unique<QLocalServer>();
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(name_)) {
        // The directory does not take sockets; handle the files alone.
        return Takeover::impossible;
    }
    server_ = std::move(server);
    connect(server_.get(), &QLocalServer::newConnection, this, &InstanceChannel::acceptConnections);
    return Takeover::became;
}

void InstanceChannel::acceptConnections() {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readRequest(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        readRequest(socket);
    }
}

void InstanceChannel::readRequest(QLocalSocket* socket) {
    if (closed_) {
        socket->abort();
        return;
    }
    QDataStream in(socket);
    in.setVersion(QDataStream::Qt_6_0);
    in.startTransaction();
    quint32 magic = 0;
    quint32 version = 0;
    QStringList files;
    in >> magic >> version >> files;
    if (!in.commitTransaction()) {
        if (in.status() == QDataStream::ReadCorruptData) {
            socket->abort();
        }
        return;  // the rest is still on its way
    }
    if (magic != requestMagic || version != requestVersion) {
        socket->abort();
        return;
    }
    disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
    // A launch that gave up waiting handles its files itself.
    if (socket->state() != QLocalSocket::ConnectedState) {
        return;
    }
    emit requested(files);
    socket->putChar(acknowledgement);
    socket->disconnectFromServer();
}

void InstanceChannel::close() {
    if (closed_) {
        return;
    }
    closed_ = true;
    if (!server_) {
        return;
    }
    QLockFile lock(name_ + QStringLiteral(".lock"));
    lockWithin(lock, ackTimeout_);
    server_->close();
    QLocalServer::removeServer(name_);
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
        socket->abort();
        socket->deleteLater();
    }
    const QList<QLocalSocket*> open = server_->findChildren<QLocalSocket*>();
    for (QLocalSocket* socket : open) {
        disconnect(socket, nullptr, this, nullptr);
        socket->abort();
    }
}

}  // namespace tovani
