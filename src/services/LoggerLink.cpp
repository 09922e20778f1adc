#include "services/LoggerLink.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

namespace {
// The longest socket path every Unix takes (sun_path), with room to spare.
constexpr int kMaxSocketPath = 100;
}  // namespace

namespace loggerlink {

QString serverName(const QString &dataDir) {
    const QString dir = QDir(dataDir).absolutePath();
#ifndef Q_OS_WIN
    const QString path = QDir(dir).filePath(QStringLiteral("qx7logger.sock"));
    if (path.toUtf8().size() < kMaxSocketPath)
        return path;
#endif
    // The same folder by any of its names gives the same name.
    const QString canonical = QFileInfo(dir).canonicalFilePath();
    const QByteArray hash =
        QCryptographicHash::hash((canonical.isEmpty() ? dir : canonical).toUtf8(),
                                 QCryptographicHash::Sha1)
            .toHex()
            .left(16);
    return QStringLiteral("qx7logger-") + QString::fromLatin1(hash);
}

QString lockPath(const QString &dataDir) {
    return QDir(dataDir).absoluteFilePath(QStringLiteral("qx7logger.lock"));
}

}  // namespace loggerlink

LoggerStatusServer::LoggerStatusServer(QObject *parent)
    : QObject(parent), server_(new QLocalServer(this)) {
    // The desktop user reads it: it holds no secret, only live readings.
    server_->setSocketOptions(QLocalServer::WorldAccessOption);
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *client = server_->nextPendingConnection()) {
            clients_.append(client);
            connect(client, &QLocalSocket::disconnected, this, [this, client] {
                clients_.removeAll(client);
                client->deleteLater();
            });
            if (!last_.isEmpty())
                client->write(last_);
        }
    });
}

LoggerStatusServer::~LoggerStatusServer() {
    server_->close();
}

bool LoggerStatusServer::listen(const QString &name, QString *error) {
    // A socket file left by a logger that was killed is in the way; the
    // lock file has already made sure that no other logger serves it.
    QLocalServer::removeServer(name);
    if (server_->listen(name))
        return true;
    if (error)
        *error = server_->errorString();
    return false;
}

void LoggerStatusServer::publish(const LoggerStatus &status) {
    // Sent every time, changed or not: it is also the sign of life.
    const QByteArray line = status.toJson();
    last_ = line;
    const QList<QLocalSocket *> clients = clients_;
    for (QLocalSocket *client : clients) {
        if (client->bytesToWrite() > kMaxUnreadBytes)
            client->abort();  // it connects again when it is back
        else
            client->write(line);
    }
}

LoggerWatch::LoggerWatch(const QString &dataDir, QObject *parent)
    : QObject(parent),
      name_(loggerlink::serverName(dataDir)),
      socket_(new QLocalSocket(this)),
      retry_(new QTimer(this)),
      silence_(new QTimer(this)) {
    retry_->setInterval(kRetryMs);
    silence_->setInterval(kSilenceMs);
    silence_->setSingleShot(true);
    connect(retry_, &QTimer::timeout, this, &LoggerWatch::tryConnect);
    connect(socket_, &QLocalSocket::readyRead, this, &LoggerWatch::onReadyRead);
    connect(socket_, &QLocalSocket::disconnected, this, [this] { setPresent(false); });
    connect(socket_, &QLocalSocket::errorOccurred, this, [this] {
        if (socket_->state() != QLocalSocket::ConnectedState)
            setPresent(false);
    });
    // A logger that stopped talking is gone, even if its socket is not.
    connect(silence_, &QTimer::timeout, this, [this] {
        socket_->abort();
        setPresent(false);
    });
}

void LoggerWatch::start() {
    tryConnect();
    retry_->start();
}

void LoggerWatch::stop() {
    retry_->stop();
    silence_->stop();
    socket_->disconnect(this);
    socket_->abort();
}

void LoggerWatch::tryConnect() {
    if (socket_->state() != QLocalSocket::UnconnectedState)
        return;
    socket_->connectToServer(name_, QIODevice::ReadOnly);
}

bool LoggerWatch::connectNow(int timeoutMs) {
    tryConnect();
    if (socket_->state() == QLocalSocket::ConnectingState)
        socket_->waitForConnected(timeoutMs);
    if (socket_->state() != QLocalSocket::ConnectedState)
        return false;
    setPresent(true);
    if (socket_->bytesAvailable() == 0)
        socket_->waitForReadyRead(timeoutMs);
    onReadyRead();
    return true;
}

void LoggerWatch::onReadyRead() {
    buffer_ += socket_->readAll();
    bool got = false;
    for (qsizetype end = buffer_.indexOf('\n'); end >= 0; end = buffer_.indexOf('\n')) {
        const QByteArray line = buffer_.left(end);
        buffer_.remove(0, end + 1);
        if (const auto status = LoggerStatus::fromJson(line)) {
            status_ = *status;
            got = true;
        }
    }
    if (!got)
        return;
    silence_->start();
    setPresent(true);
    Q_EMIT statusChanged(status_);
}

void LoggerWatch::setPresent(bool present) {
    if (present == present_)
        return;
    present_ = present;
    if (!present) {
        silence_->stop();
        buffer_.clear();
    }
    Q_EMIT presentChanged(present);
}
