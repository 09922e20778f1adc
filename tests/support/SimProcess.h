#pragma once

#include "support/ChildProcess.h"

#include <QByteArray>
#include <QStringList>

// The bus simulator qx7sim (built beside the test executables) as a child
// process of a test, in a temporary directory of its own, so that tests can
// run in parallel.
//
//     SimProcess sim(SimProcess::Serial, {"--seed", "1", "--drop", "0.5"});
//     QVERIFY2(sim.start(), qPrintable(sim.errorString()));
//
//     // The program's port 1 is now the simulator's line (QX7_COM1=<tmp>/ttyQX7
//     // until `sim` ends):
//     AppFixture app(new SerialPort());     // a real port instead of the fake
//     app.frame()->openSavedPort();             // syssetting says port 1 (value 0)
//     // ... or directly: Module1::MSComm1()->open();
//
//     QVERIFY(sim.waitForLog("01 04 00 00 00 02 71 CB ->"));  // the exchange log
//
// With SimProcess::Tcp the simulator also (or only) listens on 127.0.0.1 at a
// free port, tcpPort(). The simulator stops (SIGTERM, then kill) when the
// object ends; it also gets SIGTERM if the test process dies. When the test
// has failed, the destructor prints the simulator's log.
class SimProcess : public ChildProcess {
public:
    enum Links { Serial = 1, Tcp = 2, SerialAndTcp = Serial | Tcp };

    // Nothing starts yet. `extraArgs` go on the command line after the links
    // (--modules, --baud, --drop, --bad-crc, --late, --split, --noise, --seed).
    explicit SimProcess(Links links = Serial, const QStringList &extraArgs = {});
    ~SimProcess();

    // Starts the simulator and waits (bounded) until it has said "ready";
    // with a serial link, the program's port 1 is then its line (attach(1)).
    // False, with the reason and the log in errorString(), when it did not.
    // After stop(), start() brings it back on the same link, its log going
    // on in the same file.
    bool start(int timeoutMs = 10000);
    QString errorString() const { return error_; }

    // <tmp>/ttyQX7, the symlink to the simulator's pseudo-terminal (Serial).
    QString linkPath() const { return linkPath_; }
    // The port it listens on at 127.0.0.1 (Tcp), 0 before start.
    quint16 tcpPort() const { return tcpPort_; }

    // log() holds one line per exchange, "<time> tty <request> -> <reply>
    // (<note>) [<faults>]" or "... -> silent (<why>)".
    // Runs the event loop until the log holds `text` (bounded).
    bool waitForLog(const QString &text, int timeoutMs = 5000) const;
    // How many times `text` occurs in the log.
    int logCount(const QString &text) const { return int(log().count(text)); }

    // Points the program's port `commPort` at the simulator's line: sets
    // QX7_COM<commPort> to linkPath() until this object ends. Open the port
    // afterwards.
    void attach(int commPort = 1);

    // build/bin/qx7sim beside the running test executable.
    static QString program();

private:
    Links links_;
    QStringList extraArgs_;
    QString linkPath_;
    quint16 tcpPort_ = 0;
    QString error_;
    QByteArray attached_;  // the variable attach() set
};
