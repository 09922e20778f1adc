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
// Sends a request and collects what comes back until `length` bytes are in.
QByteArray exchange(QIODevice &link, const QByteArray &request, int length) {
    QByteArray reply;
    link.write(request);
    [[maybe_unused]] const bool complete = QTest::qWaitFor(
        [&] {
            reply += link.readAll();
            return reply.size() >= length;
        },
        5000);
    return reply;
}

bool openLine(QSerialPort &line, const QString &path) {
    line.setPortName(path);
    return line.open(QIODevice::ReadWrite) && line.setBaudRate(9600);
}
}  // namespace

class TestQx7Sim : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void help();
    void badArguments();
    void serialAndTcpShareOneBus();
    void lineTiming();
    void stopRemovesLink();
    void keepsForeignFile();
};

void TestQx7Sim::help() {
    QProcess p;
    p.start(SimProcess::program(), {QStringLiteral("--help")});
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitCode(), 0);
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
    QVERIFY(out.startsWith(
        QStringLiteral("Usage: qx7sim [--serial LINK_PATH] [--tcp PORT] [--modules 1,2,3] "
                       "[--baud 9600]\n              [--drop P] [--bad-crc P] [--late MS] "
                       "[--split MS] [--noise P] [--seed N]")));
}

void TestQx7Sim::badArguments() {
    QProcess p;
    p.start(SimProcess::program(), {QStringLiteral("--tcp"), QStringLiteral("0"),
                                    QStringLiteral("--drop"), QStringLiteral("2")});
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitCode(), 2);
    QVERIFY(p.readAllStandardOutput().isEmpty());  // never "ready"
    QVERIFY(p.readAllStandardError().contains("bad value for --drop: 2"));
}

void TestQx7Sim::serialAndTcpShareOneBus() {
    SimProcess sim(SimProcess::SerialAndTcp, {QStringLiteral("--seed"), QStringLiteral("4")});
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    QVERIFY(QFileInfo(sim.linkPath()).isSymLink());
    QVERIFY(sim.tcpPort() > 0);

    QTcpSocket tcp;
    tcp.connectToHost(QStringLiteral("127.0.0.1"), sim.tcpPort());
    QVERIFY(tcp.waitForConnected(5000));
    QSerialPort line;
    QVERIFY2(openLine(line, sim.linkPath()), qPrintable(line.errorString()));

    // Module 2 gets address 7 over TCP; the serial side then finds it there.
    const QByteArray change = writeRegisterRequest(2, modbus::kRegAddress, 7);
    QCOMPARE(exchange(tcp, change, 8), change);
    const QByteArray reply = exchange(line, measurementRequest(7), 9);
    QVERIFY(checkMeasurementFrame(reply, 7).ok());
    QVERIFY(sim.waitForLog(QStringLiteral("tty 07 04 00 00 00 02")));
    QVERIFY(sim.log().contains(QStringLiteral("(address now 7)")));

    // Address 2 is silent now, on both links.
    line.write(measurementRequest(2));
    QVERIFY(sim.waitForLog(QStringLiteral("-> silent (no module 2)")));
    QVERIFY(line.readAll().isEmpty());
}

void TestQx7Sim::lineTiming() {
    // At 1200 bit/s a request (8 bytes) and its reply (9 bytes) take 142 ms on
    // the line; the reply cannot be complete any sooner.
    SimProcess sim(SimProcess::Serial, {QStringLiteral("--baud"), QStringLiteral("1200")});
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    QSerialPort line;
    QVERIFY(openLine(line, sim.linkPath()));
    QElapsedTimer clock;
    clock.start();
    int arrivals = 0;
    QByteArray reply;
    line.write(measurementRequest(1));
    QVERIFY(QTest::qWaitFor(
        [&] {
            const QByteArray got = line.readAll();
            arrivals += got.isEmpty() ? 0 : 1;
            reply += got;
            return reply.size() >= 9;
        },
        5000));
    QVERIFY2(clock.elapsed() >= 17 * 10 * 1000 / 1200,
             qPrintable(QString::number(clock.elapsed())));
    QVERIFY(arrivals > 1);  // byte by byte, not in one piece
    QVERIFY(crcMatches(reply));
}

void TestQx7Sim::stopRemovesLink() {
    SimProcess sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    QVERIFY(QFileInfo(sim.linkPath()).isSymLink());
    QVERIFY(sim.stop());  // SIGTERM, status 0
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
