// The simulator as a program: command line, both links on one bus, line
// timing, and a clean stop.

#include "support/SimProcess.h"

#include "bus/Frames.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QSerialPort>
#include <QTcpSocket>
#include <QTest>

namespace {
struct Exchange {
    QByteArray reply;
    int arrivals = 0;  // reads that brought bytes
    qint64 ms = 0;     // from the write to the last byte
};

// Sends a request and collects what comes back until `length` bytes are in.
Exchange exchange(QIODevice &link, const QByteArray &request, int length) {
    Exchange e;
    QElapsedTimer clock;
    clock.start();
    link.write(request);
    [[maybe_unused]] const bool complete = QTest::qWaitFor(
        [&] {
            const QByteArray got = link.readAll();
            e.arrivals += got.isEmpty() ? 0 : 1;
            e.reply += got;
            return e.reply.size() >= length;
        },
        5000);
    e.ms = clock.elapsed();
    return e;
}
}  // namespace

class TestQx7Sim : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void helpAndBadArguments();
    void serialAndTcpShareOneBus();
    void keepsForeignFile();
};

void TestQx7Sim::helpAndBadArguments() {
    QProcess p;
    auto run = [&](const QStringList &args) {
        p.start(SimProcess::program(), args);
        return p.waitForFinished(5000);
    };
    QVERIFY(run({QStringLiteral("--help")}));
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(p.readAllStandardOutput().startsWith(
        "Usage: qx7sim [--serial LINK_PATH] [--tcp PORT] [--modules 1,2,3] [--baud 9600]\n"
        "              [--drop P] [--bad-crc P] [--late MS] [--split MS] [--noise P] [--seed N]"));

    QVERIFY(run({QStringLiteral("--tcp"), QStringLiteral("0"), QStringLiteral("--drop"),
                 QStringLiteral("2")}));
    QCOMPARE(p.exitCode(), 2);
    QVERIFY(p.readAllStandardOutput().isEmpty());  // never "ready"
    QVERIFY(p.readAllStandardError().contains("bad value for --drop: 2"));
}

void TestQx7Sim::serialAndTcpShareOneBus() {
    // At 1200 bit/s, where the line timing shows.
    SimProcess sim(SimProcess::SerialAndTcp, {QStringLiteral("--baud"), QStringLiteral("1200")});
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    QVERIFY(QFileInfo(sim.linkPath()).isSymLink());
    QTcpSocket tcp;
    tcp.connectToHost(QStringLiteral("127.0.0.1"), sim.tcpPort());
    QVERIFY(tcp.waitForConnected(5000));
    QSerialPort line(sim.linkPath());
    QVERIFY2(line.open(QIODevice::ReadWrite), qPrintable(line.errorString()));

    // Module 2 gets address 7 over TCP; the serial side then finds it there.
    const QByteArray change = writeRegisterRequest(2, modbus::kRegAddress, 7);
    QCOMPARE(exchange(tcp, change, 8).reply, change);
    const Exchange e = exchange(line, measurementRequest(7), 9);
    QVERIFY(checkMeasurementFrame(e.reply, 7).ok());
    // A request (8 bytes) and its reply (9 bytes) take 142 ms on the line; the
    // reply comes byte by byte and cannot be complete any sooner.
    QVERIFY2(e.ms >= 17 * 10 * 1000 / 1200, qPrintable(QString::number(e.ms)));
    QVERIFY(e.arrivals > 1);
    QVERIFY(sim.waitForLog(QStringLiteral("tty 07 04 00 00 00 02")));
    QVERIFY(sim.log().contains(QStringLiteral("(address now 7)")));

    // Address 2 is silent now.
    line.write(measurementRequest(2));
    QVERIFY(sim.waitForLog(QStringLiteral("-> silent (no module 2)")));
    QVERIFY(line.readAll().isEmpty());

    // A clean stop on SIGTERM takes the link away.
    QVERIFY(sim.stop());
    QVERIFY(!QFileInfo(sim.linkPath()).isSymLink());
    QVERIFY(sim.log().contains(QStringLiteral("stopping")));
}

void TestQx7Sim::keepsForeignFile() {
    SimProcess sim;
    QFile foreign(sim.linkPath());
    QVERIFY(foreign.open(QIODevice::WriteOnly));
    foreign.write("mine");
    foreign.close();
    QVERIFY(!sim.start());
    QVERIFY(sim.errorString().contains(QStringLiteral("is not a symlink")));
    QVERIFY(foreign.open(QIODevice::ReadOnly));
    QCOMPARE(foreign.readAll(), QByteArray("mine"));
}

QTEST_GUILESS_MAIN(TestQx7Sim)
#include "tst_qx7sim.moc"
