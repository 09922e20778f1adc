#pragma once

#include "bus/Frames.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <optional>

class QTcpSocket;

namespace console {

// Collects the bytes that arrive from the converter, which may come in any
// pieces, and cuts whole replies out of them: a measurement reply (address,
// 04, 04, four data bytes, CRC) or an exception reply (address, function with
// bit 7 set, code, CRC). A candidate counts as whole only when its CRC
// matches; bytes that cannot start a reply are dropped one by one until the
// stream is back in step.
class ReplyAssembler {
public:
    struct Result {
        QList<QByteArray> replies;  // whole replies, in arrival order
        int badCrc = 0;             // reply-shaped candidates whose CRC did not match
        int discarded = 0;          // bytes dropped to get back in step
    };

    Result add(QByteArrayView piece);
    // Bytes that wait for the rest of a reply.
    qsizetype pending() const { return buffer_.size(); }
    // Forgets the waiting bytes (a new request goes out); returns how many.
    qsizetype clear();

private:
    QByteArray buffer_;
};

// The TCP link to the QX-LAN converter: connect, one measurement request per
// poll, replies reassembled and checked like serial replies (address,
// function, length, CRC). The state is the socket's real state: a refused,
// failed or dropped connection is reported once and the link is closed.
//
// The socket belongs to the window; the link only drives it.
class ConverterLink : public QObject {
    Q_OBJECT
public:
    enum class State { Closed, Connecting, Connected };
    static constexpr int kConnectTimeoutMs = 5000;

    explicit ConverterLink(QTcpSocket *socket, QObject *parent = nullptr);
    ~ConverterLink() override;

    State state() const { return state_; }
    // "host:port" of the last connection attempt.
    QString endpoint() const { return endpoint_; }
    QTimer *connectTimer() { return &connectTimer_; }

    // Starts connecting; the outcome comes through stateChanged.
    void open(const QString &host, quint16 port);
    // The operator's disconnect. Reported as a plain close, not a failure.
    void close();
    // Leaves the socket for good (the window goes away): no more signals.
    void detach();

    // Sends the measurement request for `address`. False when the link is
    // not connected or the write fails (the failure is reported).
    bool poll(quint8 address);

    // What the window says for a socket failure.
    static QString failureReason(QAbstractSocket::SocketError error, const QString &detail);

Q_SIGNALS:
    // Every change of state, with the text the window shows for it.
    void stateChanged(console::ConverterLink::State state, const QString &text);
    // A whole reply that passed the check.
    void measured(const Measurement &m);
    // A reply (or what was left of one) that did not pass; nothing is shown from it.
    void rejected(const QString &message);

private:
    void setState(State state, const QString &text);
    void fail(const QString &reason);
    void onConnected();
    void onError(QAbstractSocket::SocketError error);
    void onDisconnected();
    void onReadyRead();
    void onConnectTimeout();

    QTcpSocket *socket_;
    State state_ = State::Closed;
    QString endpoint_;
    QTimer connectTimer_;
    ReplyAssembler assembler_;
    std::optional<quint8> polled_;
};

}  // namespace console
