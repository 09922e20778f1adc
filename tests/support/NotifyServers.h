#pragma once

#include "support/ChildProcess.h"

#include <QByteArray>
#include <QList>

// One of the notification tests' local servers (notify_servers.py, run by
// Debian's python3, which has python3-aiosmtpd) as a child process on
// 127.0.0.1, at a port chosen once, so that after stop() a start() comes
// back on the same one (a server down for a while).
//
//     NotifyServer robot(NotifyServer::Kind::Http);
//     QVERIFY2(robot.start(), qPrintable(robot.errorString()));
//     ... robot.url("/wecom?key=k") ... robot.requests() ...
class NotifyServer : public ChildProcess {
public:
    // A robot or webhook over HTTP or HTTPS; an SMTP server, plain or with
    // STARTTLS (a login is then required when `user` is given).
    enum class Kind { Http, Https, Smtp, SmtpStartTls };
    struct Request {
        QByteArray target;  // path and query
        QByteArray body;
    };

    explicit NotifyServer(Kind kind, const QString &user = {}, const QString &password = {});

    // Starts and waits until it serves; false, with the reason and its log in
    // errorString(), when it does not.
    bool start();
    QString errorString() const { return error_; }
    quint16 port() const { return port_; }
    // http(s)://127.0.0.1:PORT<path>, or smtp://127.0.0.1:PORT.
    QString url(const QString &path = {}) const;
    // The server's own certificate, to trust as a CA (HTTPS, STARTTLS).
    QString caFile() const;

    // How the robot answers from now on: "success", "errcode" (a refusal
    // with HTTP 200), "500" or "silent" (no answer at all).
    void answer(const char *mode) const;
    // What it received so far, oldest first (over all its runs).
    QList<Request> requests() const;
    QList<QByteArray> mails() const;  // with X-Envelope-From/To lines first

private:
    Kind kind_;
    QStringList extra_;
    quint16 port_ = 0;
    QString error_;
};
