#include "support/LoggerProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QTest>

LoggerProcess::LoggerProcess(const QString &dataDir, const QStringList &extraArgs)
    : ChildProcess("qx7logger", true) {
    args_ << QStringLiteral("--data") << dataDir << extraArgs;
}

QString LoggerProcess::program() {
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("qx7logger"));
}

bool LoggerProcess::start(int timeoutMs) {
    if (isRunning())
        return true;
    const qsizetype from = log().size();
    if (!launch())
        return false;
    return QTest::qWaitFor(
               [&] { return log().indexOf(QStringLiteral("开始："), from) >= 0 || !isRunning(); },
               timeoutMs) &&
           isRunning();
}

bool LoggerProcess::launch() {
    proc_.start(program(), args_);
    return proc_.waitForStarted(10000);
}

int LoggerProcess::run(int timeoutMs) {
    proc_.start(program(), args_);
    if (!proc_.waitForFinished(timeoutMs)) {
        stop();
        return -1;
    }
    return proc_.exitStatus() == QProcess::NormalExit ? proc_.exitCode() : -1;
}

void LoggerProcess::kill() {
    proc_.kill();
    proc_.waitForFinished(5000);
}

bool LoggerProcess::waitForLog(const QString &text, int timeoutMs, qsizetype from) const {
    return QTest::qWaitFor([&] { return log().indexOf(text, from) >= 0; }, timeoutMs);
}
