#pragma once

#include "support/ChildProcess.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTemporaryDir>

#include <memory>

class QTcpServer;
class QTcpSocket;

// A certificate and key for 127.0.0.1 made with openssl in `dir`
// (dir/cert.pem, which a client trusts as its own CA, and dir/key.pem).
bool makeLoopbackCertificate(const QString &dir, QString *error);

// An HTTP server on 127.0.0.1 that answers POSTs as a group robot, a
// webhook or a broken server would, in the test's own thread. The answer's
// shape follows the path: /feishu... answers {"code": …}, any other path
// {"errcode": …}.
//
//     RobotServer robots;
//     QVERIFY(robots.listen());
//     ... robots.url("/wecom") ... robots.requests ...
//     robots.close();          // down: connections are refused
//     robots.listen(port);     // back on the same port
class RobotServer : public QObject {
    Q_OBJECT
public:
    enum class Answer { Success, ErrorCode, ServerError, Silent };
    struct Request {
        QByteArray target;  // path and query
        QByteArray body;
    };

    // With `tls`, HTTPS with a certificate of its own (caFile()).
    explicit RobotServer(bool tls = false);
    ~RobotServer() override;

    bool listen(quint16 port = 0);
    // Stops listening and drops every connection.
    void close();
    quint16 port() const { return port_; }
    QString url(const QString &path) const;
    QString caFile() const;
    QString errorString() const { return error_; }

    Answer answer = Answer::Success;
    QList<Request> requests;

private:
    void take(QTcpSocket *socket);
    void serve(QTcpSocket *socket);

    bool tls_;
    QTemporaryDir dir_;
    std::unique_ptr<QTcpServer> server_;
    QList<QPointer<QTcpSocket>> sockets_;
    quint16 port_ = 0;
    QString error_;
};

// Debian's aiosmtpd as a child process (tests/support/smtp_server.py) on
// 127.0.0.1 at a free port, keeping each mail it accepts.
class SmtpServer : public ChildProcess {
public:
    enum class Security { Plain, StartTls, Smtps };
    // A login is required when `user` is not empty (over TLS only).
    explicit SmtpServer(Security security, const QString &user = {}, const QString &password = {});

    // Starts and waits until it serves; false, with the reason and log in
    // errorString(), when it does not.
    bool start();
    quint16 port() const { return port_; }
    QString caFile() const;
    // The mails accepted so far, oldest first, each with its envelope lines.
    QList<QByteArray> mails() const;
    QString errorString() const { return error_; }

private:
    Security security_;
    QString user_;
    QString password_;
    quint16 port_ = 0;
    QString error_;
};
