#include "support/TcpRelay.h"

#include <QTcpServer>
#include <QTcpSocket>

// The server, and the sockets with it, go when the thread ends.
TcpRelay::~TcpRelay() {
    thread_.quit();
    thread_.wait();
}

bool TcpRelay::start() {
    server_ = new QTcpServer;
    server_->moveToThread(&thread_);
    QObject::connect(&thread_, &QThread::finished, server_, &QObject::deleteLater);
    QObject::connect(server_, &QTcpServer::newConnection, server_, [this] { take(); });
    thread_.start();
    QMetaObject::invokeMethod(
        server_,
        [this] { port_ = server_->listen(QHostAddress::LocalHost, 0) ? server_->serverPort() : 0; },
        Qt::BlockingQueuedConnection);
    return port_ != 0;
}

int TcpRelay::cut() {
    int dropped = 0;
    QMetaObject::invokeMethod(
        server_,
        [this, &dropped] {
            for (const auto &[client, upstream] : std::as_const(pairs_)) {
                for (QTcpSocket *s : {client, upstream}) {
                    s->abort();
                    s->deleteLater();
                }
            }
            dropped = int(pairs_.size());
            pairs_.clear();
        },
        Qt::BlockingQueuedConnection);
    return dropped;
}

void TcpRelay::take() {
    while (QTcpSocket *client = server_->nextPendingConnection()) {
        // What is written to it before it has connected waits in its buffer.
        auto *upstream = new QTcpSocket(server_);
        upstream->connectToHost(QHostAddress::LocalHost, target_);
        pairs_.emplaceBack(client, upstream);
        for (auto [from, to] : {std::pair{client, upstream}, {upstream, client}}) {
            QObject::connect(from, &QTcpSocket::readyRead, to,
                             [from, to] { to->write(from->readAll()); });
            QObject::connect(from, &QTcpSocket::disconnected, to,
                             [to] { to->disconnectFromHost(); });
        }
        // Nothing has been read from the client yet: that needs the event loop.
    }
}
