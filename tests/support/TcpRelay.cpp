#include "support/TcpRelay.h"

#include <QTcpServer>
#include <QTcpSocket>

TcpRelay::~TcpRelay() {
    if (server_)
        cut();
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
        server_, [this, &dropped] { dropped = cutHere(); }, Qt::BlockingQueuedConnection);
    return dropped;
}

int TcpRelay::cutHere() {
    for (const auto &[client, upstream] : std::as_const(pairs_)) {
        for (QTcpSocket *s : {client.data(), upstream.data()}) {
            if (s) {
                s->abort();
                s->deleteLater();
            }
        }
    }
    const int dropped = int(pairs_.size());
    pairs_.clear();
    return dropped;
}

void TcpRelay::take() {
    while (QTcpSocket *client = server_->nextPendingConnection()) {
        auto *upstream = new QTcpSocket(server_);
        upstream->connectToHost(QHostAddress::LocalHost, target_);
        if (!upstream->waitForConnected(2000)) {
            client->abort();
            client->deleteLater();
            upstream->deleteLater();
            continue;
        }
        taken_.fetchAndAddRelaxed(1);
        pairs_.emplaceBack(client, upstream);
        for (auto [from, to] : {std::pair{client, upstream}, {upstream, client}}) {
            QObject::connect(from, &QTcpSocket::readyRead, to,
                             [from, to] { to->write(from->readAll()); });
            QObject::connect(from, &QTcpSocket::disconnected, to,
                             [to] { to->disconnectFromHost(); });
        }
        // What came before the slots were connected.
        if (client->bytesAvailable() > 0)
            upstream->write(client->readAll());
    }
}
