#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A program that a test runs beside itself, in a temporary directory of its
// own, so that tests can run in parallel. What it writes goes to <name>.log
// there (standard error, and standard output unless the test reads that),
// which never fills up and stalls it, and which a restart adds to. It gets
// SIGTERM if the test process dies; it is stopped when the object ends, and
// its log is printed then when the test has failed.
class ChildProcess {
public:
    ChildProcess(const char *name, bool logOutput);
    ~ChildProcess();

    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // SIGTERM and wait; kill when it does not end within 5 s. True when it
    // ended by itself with status 0.
    bool stop();
    bool isRunning() const { return proc_.state() != QProcess::NotRunning; }
    QString dir() const { return dir_.path(); }
    // Everything it wrote to its log, over all its runs.
    QString log() const;

protected:
    const char *name_;
    QTemporaryDir dir_;
    QProcess proc_;
};
