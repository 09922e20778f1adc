#include "support/NotifyServers.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QTcpSocket>
#include <QTest>

namespace {
quint16 freePort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

QByteArray answerBody(RobotServer::Answer answer, const QByteArray &target) {
    const bool ok = answer == RobotServer::Answer::Success;
    if (target.startsWith("/feishu"))
        return ok ? R"({"code":0,"msg":"success","data":{}})"
                  : R"({"code":19021,"msg":"sign match fail","data":{}})";
    return ok ? R"({"errcode":0,"errmsg":"ok"})"
              : R"({"errcode":310000,"errmsg":"keywords not in content"})";
}
}  // namespace

bool makeLoopbackCertificate(const QString &dir, QString *error) {
    const QDir d(dir);
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("openssl"),
            {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
             d.filePath(QStringLiteral("key.pem")), "-out", d.filePath(QStringLiteral("cert.pem")),
             "-days", "2", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"});
    if (p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
        return true;
    *error =
        QStringLiteral("openssl failed: ") + QString::fromLocal8Bit(p.readAll()) + p.errorString();
    return false;
}

RobotServer::RobotServer(bool tls) : tls_(tls) {}

RobotServer::~RobotServer() {
    close();
}

QString RobotServer::caFile() const {
    return QDir(dir_.path()).filePath(QStringLiteral("cert.pem"));
}

QString RobotServer::url(const QString &path) const {
    return QStringLiteral("%1://127.0.0.1:%2%3")
        .arg(tls_ ? QStringLiteral("https") : QStringLiteral("http"))
        .arg(port_)
        .arg(path);
}

bool RobotServer::listen(quint16 port) {
    if (tls_) {
        if (!QFile::exists(caFile()) && !makeLoopbackCertificate(dir_.path(), &error_))
            return false;
        QFile cert(caFile()), key(QDir(dir_.path()).filePath(QStringLiteral("key.pem")));
        if (!cert.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly))
            return false;
        auto *server = new QSslServer;
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setLocalCertificate(QSslCertificate(&cert));
        config.setPrivateKey(QSslKey(&key, QSsl::Rsa));
        server->setSslConfiguration(config);
        server_.reset(server);
    } else {
        server_ = std::make_unique<QTcpServer>();
    }
    connect(server_.get(), &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket *s = server_->nextPendingConnection()) take(s);
    });
    if (!server_->listen(QHostAddress::LocalHost, port)) {
        error_ = server_->errorString();
        return false;
    }
    port_ = server_->serverPort();
    return true;
}

void RobotServer::close() {
    server_.reset();
    for (const QPointer<QTcpSocket> &s : std::as_const(sockets_)) {
        if (s) {
            s->abort();
            s->deleteLater();
        }
    }
    sockets_.clear();
}

void RobotServer::take(QTcpSocket *socket) {
    sockets_ << socket;
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    serve(socket);
}

void RobotServer::serve(QTcpSocket *socket) {
    QByteArray data = socket->property("data").toByteArray() + socket->readAll();
    socket->setProperty("data", data);
    const qsizetype end = data.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    qsizetype length = 0;
    for (const QByteArray &line : data.left(end).split('\n')) {
        if (line.toLower().startsWith("content-length:"))
            length = line.mid(15).trimmed().toLongLong();
    }
    if (data.size() < end + 4 + length || socket->property("answered").toBool())
        return;
    socket->setProperty("answered", true);
    requests.append({data.left(data.indexOf('\r')).split(' ').value(1), data.mid(end + 4, length)});
    if (answer == Answer::Silent)
        return;
    const QByteArray body = answer == Answer::ServerError
                                ? QByteArray("Internal Server Error")
                                : answerBody(answer, requests.last().target);
    socket->write((answer == Answer::ServerError ? "HTTP/1.1 500 Internal Server Error\r\n"
                                                 : "HTTP/1.1 200 OK\r\n") +
                  QByteArray("Content-Type: application/json\r\nConnection: close\r\n") +
                  "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    socket->disconnectFromHost();
}

SmtpServer::SmtpServer(Security security, const QString &user, const QString &password)
    : ChildProcess("smtp", true),
      security_(security),
      user_(user),
      password_(password),
      port_(freePort()) {}

QString SmtpServer::caFile() const {
    return QDir(dir_.path()).filePath(QStringLiteral("cert.pem"));
}

bool SmtpServer::start() {
    const QDir dir(dir_.path());
    QStringList args{QStringLiteral(QX7_TEST_SUPPORT_DIR "/smtp_server.py"), QString::number(port_),
                     dir.path()};
    if (security_ != Security::Plain) {
        if (!QFile::exists(caFile()) && !makeLoopbackCertificate(dir.path(), &error_))
            return false;
        args << (security_ == Security::Smtps ? QStringLiteral("--smtps")
                                              : QStringLiteral("--starttls"))
             << caFile() << dir.filePath(QStringLiteral("key.pem"));
    }
    if (!user_.isEmpty())
        args << QStringLiteral("--login") << user_ << password_;
    // Debian's python3, which has python3-aiosmtpd (scripts/install-deps.sh).
    proc_.start(QStringLiteral("/usr/bin/python3"), args);
    const auto ready = [this] { return log().contains(QStringLiteral("ready")); };
    if (QTest::qWaitFor([&] { return ready() || !isRunning(); }, 15000) && ready())
        return true;
    error_ = QStringLiteral("the SMTP server did not start (python3-aiosmtpd): ") +
             proc_.errorString() + QLatin1Char('\n') + log();
    return false;
}

QList<QByteArray> SmtpServer::mails() const {
    QList<QByteArray> out;
    const QDir dir(dir_.path());
    for (int n = 1;; ++n) {
        QFile f(dir.filePath(QString::number(n) + QStringLiteral(".eml")));
        if (!f.open(QIODevice::ReadOnly))
            return out;
        out << f.readAll();
    }
}
