#include "support/MqttBroker.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTest>

#include <unistd.h>

namespace {
quint16 freeLoopbackPort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

bool run(const QString &program, const QStringList &args, QString *error) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *error = program + QLatin1Char(' ') + args.join(QLatin1Char(' ')) +
                 QStringLiteral(" failed: ") + QString::fromLocal8Bit(p.readAll()) +
                 p.errorString();
        return false;
    }
    return true;
}
}  // namespace

MqttBroker::MqttBroker(const Options &options)
    : ChildProcess("mosquitto", true), options_(options), port_(freeLoopbackPort()) {}

QString MqttBroker::program() {
    if (QFile::exists(QStringLiteral("/usr/sbin/mosquitto")))
        return QStringLiteral("/usr/sbin/mosquitto");
    return QStandardPaths::findExecutable(QStringLiteral("mosquitto"));
}

MqttSettings MqttBroker::settings(quint16 port) const {
    MqttSettings s;
    s.host = QStringLiteral("127.0.0.1");
    s.port = port ? port : port_;
    return s;
}

QString MqttBroker::caFile() const {
    return QDir(dir_.path()).filePath(QStringLiteral("ca.pem"));
}

bool MqttBroker::prepare() {
    if (!dir_.isValid() || port_ == 0) {
        error_ = QStringLiteral("no temporary directory or free port");
        return false;
    }
    const QDir dir(dir_.path());
    // A subscriber that falls behind loses nothing: a test reads what
    // mosquitto_sub prints only while its event loop runs, and mosquitto_sub
    // stops reading from the broker while its output waits.
    QStringList conf{QStringLiteral("listener %1 127.0.0.1").arg(port_),
                     QStringLiteral("log_dest stderr"), QStringLiteral("max_queued_messages 0")};
    // Run as root, mosquitto would become the user "mosquitto", which cannot
    // read the files of this directory.
    if (geteuid() == 0)
        conf << QStringLiteral("user root");
    if (options_.users.isEmpty()) {
        conf << QStringLiteral("allow_anonymous true");
    } else {
        const QString passwd = dir.filePath(QStringLiteral("passwd"));
        for (const auto &[user, password] : options_.users) {
            QStringList args{QStringLiteral("-b"), passwd, user, password};
            if (!QFile::exists(passwd))
                args.prepend(QStringLiteral("-c"));
            if (!run(QStringLiteral("mosquitto_passwd"), args, &error_))
                return false;
        }
        conf << QStringLiteral("allow_anonymous false")
             << QStringLiteral("password_file %1").arg(passwd);
    }
    if (options_.tls) {
        // A self-signed certificate for 127.0.0.1, which the client trusts as its own CA.
        const QString key = dir.filePath(QStringLiteral("server.key"));
        if (!run(QStringLiteral("openssl"),
                 {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", caFile(),
                  "-days", "2", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"},
                 &error_))
            return false;
        conf << QStringLiteral("certfile %1").arg(caFile())
             << QStringLiteral("keyfile %1").arg(key);
    }
    QFile confFile(dir.filePath(QStringLiteral("mosquitto.conf")));
    if (!confFile.open(QIODevice::WriteOnly) ||
        confFile.write(conf.join(QLatin1Char('\n')).toUtf8() + '\n') < 0) {
        error_ = QStringLiteral("cannot write ") + confFile.fileName();
        return false;
    }
    return true;
}

bool MqttBroker::start(int timeoutMs) {
    // The files are made once; a restart uses them again.
    const QString conf = QDir(dir_.path()).filePath(QStringLiteral("mosquitto.conf"));
    if (!QFile::exists(conf) && !prepare())
        return false;
    const qsizetype earlier = log().size();  // the log of an earlier run says "running" too
    proc_.start(program(), {QStringLiteral("-c"), conf});
    const auto serving = [&] { return log().indexOf(QStringLiteral(" running"), earlier) >= 0; };
    if (QTest::qWaitFor([&] { return serving() || !isRunning(); }, timeoutMs) && serving())
        return true;
    error_ = QStringLiteral(
                 "mosquitto did not serve on port %1 (%2; scripts/install-deps.sh "
                 "installs it):\n")
                 .arg(QString::number(port_), proc_.errorString()) +
             log();
    stop();
    return false;
}
