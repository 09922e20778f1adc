#pragma once

#include <QList>
#include <QThread>

class QTcpServer;
class QTcpSocket;

// A TCP relay on 127.0.0.1, in a thread of its own: each connection to
// port() is carried both ways to 127.0.0.1:targetPort, until cut() breaks
// them all at once, as a failing network would (no goodbye on either side).
// Later connections are carried again.
//
//     TcpRelay relay(broker.port());
//     QVERIFY(relay.start());
//     ... client connects to 127.0.0.1:relay.port() ...
//     relay.cut();
class TcpRelay {
public:
    explicit TcpRelay(quint16 targetPort) : target_(targetPort) {}
    ~TcpRelay();

    bool start();
    quint16 port() const { return port_; }
    // Drops every connection it carries; returns how many.
    int cut();

private:
    void take();  // on the relay's thread

    quint16 target_;
    quint16 port_ = 0;
    QThread thread_;
    QTcpServer *server_ = nullptr;                        // lives on thread_, with the sockets
    QList<std::pair<QTcpSocket *, QTcpSocket *>> pairs_;  // client, upstream
};
