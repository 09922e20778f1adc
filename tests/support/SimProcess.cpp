#include "support/SimProcess.h"

#include <QCoreApplication>
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
    QByteArray out;
    const auto ready = [&] {
        out += proc_.readAllStandardOutput();
        return out.contains("ready\n");
    };
    if (!QTest::qWaitFor([&] { return ready() || !isRunning(); }, timeoutMs) || !ready()) {
        error_ = QStringLiteral("qx7sim %1 did not say ready (%2):\n%3")
                     .arg(args.join(QLatin1Char(' ')), proc_.errorString(), log());
        stop();
        return false;
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
