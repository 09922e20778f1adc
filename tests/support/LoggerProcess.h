#pragma once

#include "support/ChildProcess.h"

#include <QStringList>

// The logger qx7logger (built beside the test executables) as a child
// process of a test, on a data folder the test gives; its standard error
// goes to qx7logger.log in a directory of its own (over all its runs).
//
//     LoggerProcess logger(db.dir(), {"--period", "200"});
//     QVERIFY2(logger.start(), qPrintable(logger.log()));
//     QVERIFY(logger.waitForLog("报警开始：模块3"));
//     QVERIFY(logger.stop());           // SIGTERM: true when it ended with 0
class LoggerProcess : public ChildProcess {
public:
    LoggerProcess(const QString &dataDir, const QStringList &extraArgs = {});

    // Starts it and waits (bounded) until it says it acquires ("开始：") or
    // ends; true in the first case. After stop() or kill() it starts again.
    bool start(int timeoutMs = 10000);
    // Starts it without waiting for anything.
    bool launch();
    // Runs it to its end (bounded): its exit status, -1 when it did not end.
    int run(int timeoutMs = 10000);
    // Ends it at once (SIGKILL), as a crash or a power cut would.
    void kill();
    qint64 pid() const { return proc_.processId(); }
    // Runs the event loop until the log holds `text`, counted from the
    // `from`th character on (bounded).
    bool waitForLog(const QString &text, int timeoutMs = 10000, qsizetype from = 0) const;

    // build/bin/qx7logger beside the running test executable.
    static QString program();

private:
    QStringList args_;
};
