#include "SimServer.h"

#include <QDateTime>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <cstdio>

void simLog(const QString &line) {
    const QByteArray text =
        (QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz ")) + line + QLatin1Char('\n'))
            .toLocal8Bit();
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    std::fflush(stderr);
}

// ---------------------------------------------------------------------------

SimEndpoint::SimEndpoint(SimBus *bus, const QElapsedTimer *clock, const QString &name,
                         bool paceBytes, QObject *parent)
    : QObject(parent), bus_(bus), clock_(clock), name_(name), paceBytes_(paceBytes) {
    // A request ends when the line is quiet for 3.5 characters (at least 2 ms).
    const qint64 gapMicros = bus_->lineMicros(7) / 2;
    silence_.setSingleShot(true);
    silence_.setTimerType(Qt::PreciseTimer);
    silence_.setInterval(std::max<int>(2, int((gapMicros + 999) / 1000)));
    connect(&silence_, &QTimer::timeout, this, [this] {
        const QByteArray rest = framer_.flush();
        if (!rest.isEmpty())
            handleRequest(rest);
    });
    sendTimer_.setSingleShot(true);
    sendTimer_.setTimerType(Qt::PreciseTimer);
    connect(&sendTimer_, &QTimer::timeout, this, &SimEndpoint::pump);
}

void SimEndpoint::received(QByteArrayView bytes) {
    const QList<QByteArray> requests = framer_.feed(bytes);
    for (const QByteArray &request : requests) handleRequest(request);
    if (framer_.pending())
        silence_.start();
    else
        silence_.stop();
}

void SimEndpoint::handleRequest(const QByteArray &request) {
    const SimReply reply = bus_->handle(request, clock_->elapsed());
    simLog(name_ + QLatin1Char(' ') + reply.log);
    if (reply.bytes.isEmpty())
        return;

    // The request took its time on the line before the module could see its
    // end; then the module turns round, and the reply takes its time too.
    const qint64 now = nowMicros();
    qint64 at = std::max(now + bus_->lineMicros(int(request.size())) + reply.delayMs * 1000LL,
                         lineFreeMicros_);
    const int n = int(reply.bytes.size());
    if (paceBytes_) {
        for (int i = 0; i < n; ++i) {
            if (reply.splitAt > 0 && i == reply.splitAt)
                at += reply.pauseMs * 1000LL;
            at += bus_->lineMicros(1);
            queue_.push_back({at, reply.bytes.mid(i, 1)});
        }
    } else {
        const int first = reply.splitAt > 0 ? reply.splitAt : n;
        at += bus_->lineMicros(first);
        queue_.push_back({at, reply.bytes.left(first)});
        if (first < n) {
            at += reply.pauseMs * 1000LL + bus_->lineMicros(n - first);
            queue_.push_back({at, reply.bytes.mid(first)});
        }
    }
    lineFreeMicros_ = at;
    pump();
}

void SimEndpoint::pump() {
    const qint64 now = nowMicros();
    QByteArray due;
    while (!queue_.empty() && queue_.front().dueMicros <= now) {
        due += queue_.front().bytes;
        queue_.pop_front();
    }
    if (!due.isEmpty()) {
        if (send(due)) {
            sendFailureLogged_ = false;
        } else if (!sendFailureLogged_) {
            sendFailureLogged_ = true;
            simLog(name_ + QStringLiteral(" nobody reads the line; reply bytes lost"));
        }
    }
    if (!queue_.empty()) {
        const qint64 wait = queue_.front().dueMicros - now;
        sendTimer_.start(int(std::max<qint64>(0, (wait + 999) / 1000)));
    }
}

// ---------------------------------------------------------------------------

PtyLink::PtyLink(SimBus *bus, const QElapsedTimer *clock, QObject *parent)
    : SimEndpoint(bus, clock, QStringLiteral("tty"), true, parent) {}

PtyLink::~PtyLink() {
    close();
}

// ---------------------------------------------------------------------------

TcpConnection::TcpConnection(SimBus *bus, const QElapsedTimer *clock, QTcpSocket *socket,
                             QObject *parent)
    : SimEndpoint(
          bus, clock,
          QStringLiteral("tcp %1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort()),
          false, parent),
      socket_(socket) {
    connect(socket_, &QTcpSocket::readyRead, this, [this] { received(socket_->readAll()); });
}

bool TcpConnection::send(QByteArrayView bytes) {
    return socket_->state() == QAbstractSocket::ConnectedState &&
           socket_->write(bytes.data(), bytes.size()) == bytes.size();
}

// ---------------------------------------------------------------------------

SimServer::SimServer(const SimOptions &options, QObject *parent)
    : QObject(parent),
      options_(options),
      bus_(options.modules, options.baud, options.faults, options.seed) {
    applyDrives(bus_, options_);
    clock_.start();
}

SimServer::~SimServer() {
    stop();
}

bool SimServer::start(QString *error) {
    QStringList modules;
    for (int a : options_.modules) modules << QString::number(a);
    simLog(QStringLiteral("qx7sim: modules %1, %2 bit/s, seed %3")
               .arg(modules.join(QLatin1Char(',')))
               .arg(options_.baud)
               .arg(options_.seed));
    for (const SimSetting &s : options_.settings)
        simLog(QStringLiteral("module %1 fixed at %2 °C %3 %")
                   .arg(s.address)
                   .arg(s.temperature)
                   .arg(s.humidity));
    for (const SimRampSetting &r : options_.ramps)
        simLog(QStringLiteral("module %1 ramps from %2 to %3 °C in %4 s and back")
                   .arg(r.address)
                   .arg(r.ramp.from)
                   .arg(r.ramp.to)
                   .arg(r.ramp.seconds));

    if (!options_.serialPath.isEmpty()) {
        pty_ = new PtyLink(&bus_, &clock_, this);
        if (!pty_->open(options_.serialPath, options_.baud, error))
            return false;
        simLog(QStringLiteral("serial %1 -> %2").arg(options_.serialPath, pty_->slaveName()));
    }
    if (options_.tcpPort >= 0) {
        QHostAddress host;
        if (options_.tcpHost == QLatin1String("localhost"))
            host = QHostAddress::LocalHost;
        else if (!host.setAddress(options_.tcpHost)) {
            *error = QStringLiteral("bad TCP address %1").arg(options_.tcpHost);
            return false;
        }
        tcp_ = new QTcpServer(this);
        if (!tcp_->listen(host, quint16(options_.tcpPort))) {
            *error = QStringLiteral("cannot listen on %1:%2: %3")
                         .arg(options_.tcpHost)
                         .arg(options_.tcpPort)
                         .arg(tcp_->errorString());
            return false;
        }
        connect(tcp_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = tcp_->nextPendingConnection()) {
                auto *link = new TcpConnection(&bus_, &clock_, socket, socket);
                simLog(QStringLiteral("tcp client %1:%2 connected")
                           .arg(socket->peerAddress().toString())
                           .arg(socket->peerPort()));
                connect(socket, &QTcpSocket::disconnected, link, [socket] {
                    simLog(QStringLiteral("tcp client %1:%2 gone")
                               .arg(socket->peerAddress().toString())
                               .arg(socket->peerPort()));
                    socket->deleteLater();
                });
            }
        });
        simLog(QStringLiteral("tcp %1:%2")
                   .arg(tcp_->serverAddress().toString())
                   .arg(tcp_->serverPort()));
    }
    return true;
}

void SimServer::stop() {
    if (pty_)
        pty_->close();
    if (tcp_)
        tcp_->close();
}
