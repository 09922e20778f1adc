#include "support/SimProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

SimProcess::SimProcess(Links links, const QStringList &extraArgs)
    : ChildProcess("qx7sim", false), links_(links), extraArgs_(extraArgs) {
    linkPath_ = QDir(dir_.path()).filePath(QStringLiteral("ttyQX7"));
}

SimProcess::~SimProcess() {
    if (!attached_.isEmpty())
        qunsetenv(attached_.constData());
}

QString SimProcess::program() {
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("qx7sim"));
}

bool SimProcess::start(int timeoutMs) {
    if (isRunning())
        return true;
    if (!dir_.isValid()) {
        error_ = QStringLiteral("no temporary directory: ") + dir_.errorString();
        return false;
    }
    QStringList args;
    if (links_ & Serial)
        args << QStringLiteral("--serial") << linkPath_;
    if (links_ & Tcp)
        args << QStringLiteral("--tcp") << QStringLiteral("0");  // the simulator picks a free port
    args << extraArgs_;

    proc_.start(program(), args);
    if (!proc_.waitForStarted(timeoutMs)) {
        error_ = QStringLiteral("cannot start %1: %2").arg(program(), proc_.errorString());
        return false;
    }

    const QDeadlineTimer deadline(timeoutMs);
    QByteArray out;
    while (!out.contains("ready\n")) {
        if (proc_.state() != QProcess::Running || deadline.hasExpired()) {
            error_ = QStringLiteral("qx7sim %1 did not say ready:\n%2")
                         .arg(args.join(QLatin1Char(' ')), log());
            stop();
            return false;
        }
        proc_.waitForReadyRead(int(qMin<qint64>(deadline.remainingTime(), 100)));
        out += proc_.readAllStandardOutput();
    }

    if (links_ & Serial)
        attach(1);
    if (links_ & Tcp) {
        static const QRegularExpression re(QStringLiteral("tcp 127\\.0\\.0\\.1:(\\d+)"));
        const auto m = re.match(log());
        tcpPort_ = m.hasMatch() ? quint16(m.captured(1).toUInt()) : 0;
        if (!tcpPort_) {
            error_ = QStringLiteral("qx7sim did not name its TCP port:\n") + log();
            stop();
            return false;
        }
    }
    return true;
}

bool SimProcess::waitForLog(const QString &text, int timeoutMs) const {
    return QTest::qWaitFor([&] { return log().contains(text); }, timeoutMs);
}

void SimProcess::attach(int commPort) {
    attached_ = "QX7_COM" + QByteArray::number(commPort);
    qputenv(attached_.constData(), QFile::encodeName(linkPath_));
}
