#include "support/ChildProcess.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <sys/prctl.h>

#include <csignal>

ChildProcess::ChildProcess(const char *name, bool logOutput) : name_(name) {
    const QString logPath = QDir(dir_.path()).filePath(QLatin1String(name) + ".log");
    if (logOutput)
        proc_.setStandardOutputFile(logPath, QIODevice::Append);
    proc_.setStandardErrorFile(logPath, QIODevice::Append);
    proc_.setWorkingDirectory(dir_.path());
    proc_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

ChildProcess::~ChildProcess() {
    stop();
    if (QTest::currentTestFailed())
        qInfo("--- %s log ---\n%s", name_, qPrintable(log()));
}

bool ChildProcess::stop() {
    if (isRunning()) {
        proc_.terminate();
        if (!proc_.waitForFinished(5000)) {
            proc_.kill();
            proc_.waitForFinished(5000);
            return false;
        }
    }
    return proc_.exitStatus() == QProcess::NormalExit && proc_.exitCode() == 0;
}

QString ChildProcess::log() const {
    QFile f(QDir(dir_.path()).filePath(QLatin1String(name_) + ".log"));
    return f.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(f.readAll()) : QString();
}
