#pragma once

#include "acquisition/LoggerStatus.h"

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;
class QTimer;

// The link between a running qx7logger and the desktop programs on the same
// machine: one logger per data folder (a lock file), and its status sent
// over a local socket in that folder.

namespace loggerlink {
// The name the logger of the data folder `dataDir` listens on: a socket
// file in that folder where the platform allows, a name derived from the
// folder otherwise.
QString serverName(const QString &dataDir);
// The lock file that makes one logger per data folder.
QString lockPath(const QString &dataDir);
}  // namespace loggerlink

// The logger's side: sends the status to every program that connects.
class LoggerStatusServer : public QObject {
    Q_OBJECT
public:
    // A program that has not read this much of what was sent to it (it
    // hangs) is let go, so that the logger's memory stays small.
    static constexpr qint64 kMaxUnreadBytes = 256 * 1024;

    explicit LoggerStatusServer(QObject *parent = nullptr);
    ~LoggerStatusServer() override;
    // False, with the reason, when the name cannot be served.
    bool listen(const QString &name, QString *error);
    // The status from now on, sent to everyone connected (about once a
    // second: silence means the logger is gone).
    void publish(const LoggerStatus &status);

private:
    QLocalServer *server_;
    QList<QLocalSocket *> clients_;
    QByteArray last_;
};

// The desktop program's side: watches for the logger of its data folder,
// connects when it runs, and hands on what it says.
class LoggerWatch : public QObject {
    Q_OBJECT
public:
    static constexpr int kRetryMs = 2000;
    // No news for this long: the logger is taken to be gone.
    static constexpr int kSilenceMs = 5000;

    explicit LoggerWatch(const QString &dataDir, QObject *parent = nullptr);
    // Looks at once (connects when the logger is there), then every kRetryMs.
    void start();
    // Watches no more, and says nothing more.
    void stop();
    // A logger holds the data folder now.
    // What it said last.
    // Tries to connect and waits at most `timeoutMs` (the program's start,
    // before it touches the port): true when a logger answered.
    bool connectNow(int timeoutMs);

Q_SIGNALS:
    void presentChanged(bool present);
    void statusChanged(const LoggerStatus &status);

private:
    void tryConnect();
    void onReadyRead();
    void setPresent(bool present);

    QString name_;
    QLocalSocket *socket_;
    QTimer *retry_;
    QTimer *silence_;
    QByteArray buffer_;
    bool present_ = false;
    LoggerStatus status_;
};
