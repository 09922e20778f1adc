#pragma once

#include "SimBus.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <deque>

class QSocketNotifier;
class QTcpServer;
class QTcpSocket;

// One way onto the bus (the pseudo-terminal, or one TCP connection): cuts what
// arrives into requests, lets the bus answer, and puts the reply bytes out at
// the times a real line would carry them.
class SimEndpoint : public QObject {
    Q_OBJECT
public:
    SimEndpoint(SimBus *bus, const QElapsedTimer *clock, const QString &name, bool paceBytes,
                QObject *parent = nullptr);

    // Bytes that arrived from the program.
    void received(QByteArrayView bytes);

protected:
    // Puts bytes on the link; false when the link cannot take them now.
    virtual bool send(QByteArrayView bytes) = 0;

private:
    void handleRequest(const QByteArray &request);
    void pump();
    qint64 nowMicros() const { return clock_->nsecsElapsed() / 1000; }

    SimBus *bus_;
    const QElapsedTimer *clock_;
    QString name_;
    bool paceBytes_;  // serial: byte by byte at the line speed; TCP: whole parts
    RequestFramer framer_;
    QTimer silence_;
    QTimer sendTimer_;
    struct Chunk {
        qint64 dueMicros;
        QByteArray bytes;
    };
    std::deque<Chunk> queue_;
    qint64 lineFreeMicros_ = 0;
    bool sendFailureLogged_ = false;
};

// The serial side: a pseudo-terminal pair, the slave reached through a
// symlink at the path given.
class PtyLink : public SimEndpoint {
    Q_OBJECT
public:
    PtyLink(SimBus *bus, const QElapsedTimer *clock, QObject *parent = nullptr);
    ~PtyLink() override;

    // Creates the pair and the symlink; false with the reason in *error.
    bool open(const QString &linkPath, int baud, QString *error);
    // Removes the symlink (when it still points at our terminal) and closes.
    void close();
    QString slaveName() const { return slaveName_; }

protected:
    bool send(QByteArrayView bytes) override;

private:
    void readMaster();

    int master_ = -1;
    int slave_ = -1;  // kept open so the master never sees a hang-up
    QString slaveName_;
    QString linkPath_;
    QSocketNotifier *notifier_ = nullptr;
};

// One TCP connection, like one client of the QX-LAN converter.
class TcpConnection : public SimEndpoint {
    Q_OBJECT
public:
    TcpConnection(SimBus *bus, const QElapsedTimer *clock, QTcpSocket *socket,
                  QObject *parent = nullptr);

protected:
    bool send(QByteArrayView bytes) override;

private:
    QTcpSocket *socket_;
};

// The whole simulator: the bus, the links, the log and the stop on signals.
class SimServer : public QObject {
    Q_OBJECT
public:
    explicit SimServer(const SimOptions &options, QObject *parent = nullptr);
    ~SimServer() override;

    // Opens every link asked for; false with the reason in *error.
    bool start(QString *error);
    void stop();

private:
    SimOptions options_;
    SimBus bus_;
    QElapsedTimer clock_;
    PtyLink *pty_ = nullptr;
    QTcpServer *tcp_ = nullptr;
};

// A line on standard error.
void simLog(const QString &line);
