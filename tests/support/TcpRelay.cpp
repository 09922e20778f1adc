#include "support/TcpRelay.h"

#include <QAtomicInt>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

class TcpRelay::Worker : public QObject {
public:
    explicit Worker(quint16 target) : target_(target) {}

    quint16 listen() {
        server_ = new QTcpServer(this);
        if (!server_->listen(QHostAddress::LocalHost, 0))
            return 0;
        connect(server_, &QTcpServer::newConnection, this, &Worker::take);
        return server_->serverPort();
    }

    int cut() {
        int dropped = 0;
        for (const Pair &p : std::as_const(pairs_)) {
            for (QTcpSocket *s : {p.client.data(), p.upstream.data()}) {
                if (s) {
                    s->abort();
                    s->deleteLater();
                }
            }
            ++dropped;
        }
        pairs_.clear();
        return dropped;
    }

    QAtomicInt taken;

private:
    struct Pair {
        QPointer<QTcpSocket> client;
        QPointer<QTcpSocket> upstream;
    };

    void take() {
        while (QTcpSocket *client = server_->nextPendingConnection()) {
            auto *upstream = new QTcpSocket(this);
            upstream->connectToHost(QHostAddress::LocalHost, target_);
            if (!upstream->waitForConnected(2000)) {
                client->abort();
                client->deleteLater();
                upstream->deleteLater();
                continue;
            }
            taken.fetchAndAddRelaxed(1);
            client->setParent(this);
            pairs_.append(Pair{client, upstream});
            carry(client, upstream);
            carry(upstream, client);
            // What came before the slots were connected.
            if (client->bytesAvailable() > 0)
                upstream->write(client->readAll());
        }
    }

    static void carry(QTcpSocket *from, QTcpSocket *to) {
        connect(from, &QTcpSocket::readyRead, to, [from, to] { to->write(from->readAll()); });
        connect(from, &QTcpSocket::disconnected, to, [to] { to->disconnectFromHost(); });
    }

    quint16 target_;
    QTcpServer *server_ = nullptr;
    QList<Pair> pairs_;
};

TcpRelay::TcpRelay(quint16 targetPort) : target_(targetPort) {}

TcpRelay::~TcpRelay() {
    if (worker_) {
        QMetaObject::invokeMethod(
            worker_, [w = worker_] { delete w; }, Qt::BlockingQueuedConnection);
    }
    thread_.quit();
    thread_.wait();
}

bool TcpRelay::start() {
    worker_ = new Worker(target_);
    worker_->moveToThread(&thread_);
    thread_.start();
    QMetaObject::invokeMethod(
        worker_, [this] { port_ = worker_->listen(); }, Qt::BlockingQueuedConnection);
    return port_ != 0;
}

int TcpRelay::cut() {
    int dropped = 0;
    QMetaObject::invokeMethod(
        worker_, [this, &dropped] { dropped = worker_->cut(); }, Qt::BlockingQueuedConnection);
    return dropped;
}

int TcpRelay::connections() const {
    return worker_ ? worker_->taken.loadRelaxed() : 0;
}
