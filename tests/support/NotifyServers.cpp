#include "support/NotifyServers.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTest>

NotifyServer::NotifyServer(Kind kind, const QString &user, const QString &password)
    : ChildProcess("servers", true), kind_(kind) {
    QTcpServer probe;
    port_ = probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
    const bool smtp = kind == Kind::Smtp || kind == Kind::SmtpStartTls;
    extra_ << (smtp ? "smtp" : "http") << QString::number(port_) << dir_.path();
    if (kind == Kind::Https)
        extra_ << "--tls";
    if (kind == Kind::SmtpStartTls)
        extra_ << "--starttls";
    if (!user.isEmpty())
        extra_ << "--login" << user << password;
}

bool NotifyServer::start() {
    const qsizetype earlier = log().size();
    const auto ready = [&] { return log().indexOf(QStringLiteral("ready"), earlier) >= 0; };
    proc_.start(QStringLiteral("/usr/bin/python3"),
                QStringList{QStringLiteral(QX7_TEST_SUPPORT_DIR "/notify_servers.py")} + extra_);
    if (QTest::qWaitFor([&] { return ready() || !isRunning(); }, 15000) && ready())
        return true;
    error_ = QStringLiteral(
                 "notify_servers.py did not serve (python3, python3-aiosmtpd, "
                 "openssl): ") +
             proc_.errorString() + QLatin1Char('\n') + log();
    return false;
}

QString NotifyServer::url(const QString &path) const {
    const char *scheme = kind_ == Kind::Http ? "http" : kind_ == Kind::Https ? "https" : "smtp";
    return QStringLiteral("%1://127.0.0.1:%2%3").arg(QLatin1String(scheme)).arg(port_).arg(path);
}

QString NotifyServer::caFile() const {
    return QDir(dir_.path()).filePath(QStringLiteral("cert.pem"));
}

void NotifyServer::answer(const char *mode) const {
    QFile f(QDir(dir_.path()).filePath(QStringLiteral("answer")));
    if (!f.open(QIODevice::WriteOnly) || f.write(mode) < 0)
        qFatal("cannot write %s", qPrintable(f.fileName()));
}

QList<NotifyServer::Request> NotifyServer::requests() const {
    QList<Request> out;
    QFile f(QDir(dir_.path()).filePath(QStringLiteral("requests.jsonl")));
    if (!f.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray &line : f.readAll().split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (!o.isEmpty())
            out.append(
                {o.value("target").toString().toUtf8(), o.value("body").toString().toUtf8()});
    }
    return out;
}

QList<QByteArray> NotifyServer::mails() const {
    QList<QByteArray> out;
    for (int n = 1;; ++n) {
        QFile f(QDir(dir_.path()).filePath(QString::number(n) + QStringLiteral(".eml")));
        if (!f.open(QIODevice::ReadOnly))
            return out;
        out << f.readAll();
    }
}
