// The bus simulator: its modules' replies, register writes, faults, drift
// and line timing, the request framer and the command line; then the program,
// with both links on one bus and a clean stop.
#include "SimBus.h"

#include "bus/Frames.h"
#include "bus/HexText.h"
#include "support/SimProcess.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QSerialPort>
#include <QTcpSocket>
#include <QTest>

namespace {
QByteArray frame(std::initializer_list<int> bytes) {
    QByteArray out;
    for (int b : bytes) out.append(char(b));
    return assembleFrame(out);
}

SimBus plainBus(const FaultOptions &faults = {}) {
    return SimBus({1, 2, 3}, 9600, faults, 7);
}

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
    // A request to a bus of modules 1, 2 and 3, its reply (empty: silence) and how the
    // exchange's log line ends.
    void replies_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("logEnd");
        const auto row = [](const char *name, const QByteArray &request, const QByteArray &reply,
                            const char *logEnd = "") {
            QTest::newRow(name) << request << reply << QString(logEnd);
        };
        SimBus bus = plainBus();
        const auto raw = [&](int address) {
            return std::pair{int(quint16(bus.module(address)->temperatureRaw())),
                             int(bus.module(address)->humidityRaw())};
        };
        for (int a : {1, 2, 3}) {
            const auto [t, h] = raw(a);
            QTest::addRow("04 module %d", a)
                << measurementRequest(quint8(a))
                << frame({a, 4, 4, t >> 8, t & 0xFF, h >> 8, h & 0xFF}) << QString();
        }
        const auto [t, h] = raw(1);
        row("04 temperature", frame({1, 4, 0, 0, 0, 1}), frame({1, 4, 2, t >> 8, t & 0xFF}));
        row("04 humidity", frame({1, 4, 0, 1, 0, 1}), frame({1, 4, 2, h >> 8, h & 0xFF}));
        row("04 beyond humidity", frame({1, 4, 0, 1, 0, 2}), frame({1, 0x84, 2}));
        row("04 count 0", frame({1, 4, 0, 0, 0, 0}), frame({1, 0x84, 3}));
        // Address, speed code of 9600, model; the turnaround.
        row("03 three at once", frame({2, 3, 0, 0, 0, 3}), frame({2, 3, 6, 0, 2, 0, 3, 0, 7}));
        row("03 turnaround", frame({2, 3, 0, 0x0D, 0, 1}), frame({2, 3, 2, 0, 5}));
        row("03 unknown register", frame({2, 3, 0, 3, 0, 1}), frame({2, 0x83, 2}));
        row("03 run into a gap", frame({2, 3, 0, 2, 0, 2}), frame({2, 0x83, 2}));
        row("06 echo", writeRegisterRequest(1, 1, 4), writeRegisterRequest(1, 1, 4));
        row("06 unknown register", frame({1, 6, 0, 5, 0, 1}), frame({1, 0x86, 2}),
            "(exception 02)");
        row("function 05", frame({1, 5, 0, 0, 0xFF, 0}), frame({1, 0x85, 1}), "(exception 01)");
        QByteArray badCrc = measurementRequest(1);
        badCrc[7] = char(badCrc[7] ^ 1);
        row("bad CRC", badCrc, {}, "silent (bad CRC)");
        row("no such module", measurementRequest(4), {}, "silent (no module 4)");
        row("too short", QByteArray("\x01\x04", 2), {}, "silent (bad CRC)");
        row("broadcast read", measurementRequest(0), {}, "silent (broadcast)");
    }
    void replies() {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(QString, logEnd);
        const SimReply r = plainBus().handle(request, 0);
        QCOMPARE(r.bytes, reply);
        QVERIFY2(r.log.endsWith(logEnd), qPrintable(r.log));
        if (!reply.isEmpty()) {
            QVERIFY(r.log.contains(QStringLiteral(" ->") + receiveText(reply)));
            QVERIFY(r.delayMs >= 1 && r.delayMs < 20);  // a module turns round in a few ms
        }
    }

    void writesTakeEffect() {
        SimBus bus = plainBus();
        QVERIFY(bus.module(3)->temperatureRaw() < 0);  // the third module sits in a cold room
        const QList<QPair<quint16, int>> writes = {
            {modbus::kRegSpeed, 4}, {modbus::kRegModel, 0x1234}, {modbus::kRegTurnaround, 12}};
        for (const auto &[reg, value] : writes) {
            const QByteArray request = writeRegisterRequest(1, reg, quint16(value));
            QCOMPARE(bus.handle(request, 0).bytes, request);  // the echo
            QCOMPARE(bus.handle(readRegisterRequest(1, reg), 0).bytes,
                     frame({1, 3, 2, value >> 8, value & 0xFF}));
        }
        // A longer turnaround shows in the reply's delay.
        QCOMPARE(bus.handle(measurementRequest(1), 0).delayMs, 12);

        // A new address takes effect after the echo, which still comes from the old one.
        const QByteArray change = writeRegisterRequest(2, modbus::kRegAddress, 9);
        QCOMPARE(bus.handle(change, 0).bytes, change);
        QVERIFY(bus.handle(measurementRequest(2), 0).bytes.isEmpty());
        QVERIFY(checkMeasurementFrame(bus.handle(measurementRequest(9), 0).bytes, 9).ok());
        // Address 0 is not a module address: refused, the module keeps 9.
        QCOMPARE(bus.handle(writeRegisterRequest(9, modbus::kRegAddress, 0), 0).bytes,
                 frame({9, 0x86, 3}));
        QVERIFY(bus.module(9));

        // A broadcast write reaches every module; none answers.
        QVERIFY(bus.handle(writeRegisterRequest(0, modbus::kRegTurnaround, 9), 0).bytes.isEmpty());
        for (const SimModule &m : bus.modules()) QCOMPARE(m.turnaround, quint16(9));
    }

    // Each fault of the line on a reply (a late and a split one are what the routing tests
    // run on).
    // On a measurement reply and on an exception reply alike.
    void faults_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::newRow("measurement") << measurementRequest(1);
        QTest::newRow("exception") << frame({1, 5, 0, 0, 0xFF, 0});
    }
    void faults() {
        QFETCH(QByteArray, request);
        const SimReply clean = plainBus().handle(request, 0);
        QVERIFY(crcMatches(clean.bytes));

        SimReply r = plainBus({.drop = 1}).handle(request, 0);
        QVERIFY(r.bytes.isEmpty());
        QVERIFY(r.log.contains(u"dropped"));

        r = plainBus({.badCrc = 1}).handle(request, 0);
        QCOMPARE(r.bytes.chopped(2), clean.bytes.chopped(2));
        QVERIFY(!crcMatches(r.bytes));

        r = plainBus({.noise = 1}).handle(request, 0);  // one to three stray bytes
        QVERIFY(r.bytes.size() > clean.bytes.size() && r.bytes.size() <= clean.bytes.size() + 3);
    }

    void faultShareAndSeed() {
        auto run = [&](quint32 seed) {
            SimBus bus({1}, 9600, {.drop = 0.3, .badCrc = 0.2}, seed);
            QByteArray pattern;
            for (int i = 0; i < 1000; ++i) {
                const SimReply r = bus.handle(measurementRequest(1), i * 600);
                pattern.append(r.bytes.isEmpty() ? 'd' : crcMatches(r.bytes) ? 'o' : 'c');
            }
            return pattern;
        };
        const QByteArray a = run(11);
        QCOMPARE(run(11), a);  // one seed, one run
        QVERIFY(run(12) != a);
        QVERIFY(a.count('d') > 230 && a.count('d') < 370);
        // Bad CRCs are drawn among the replies that were not dropped.
        QVERIFY(a.count('c') > 90 && a.count('c') < 190);
    }

    void framer() {
        RequestFramer f;
        const QByteArray a = measurementRequest(1);
        const QByteArray b = readRegisterRequest(2, 0x0D);
        // Two requests in one arrival.
        QCOMPARE(f.feed(a + b), (QList<QByteArray>{a, b}));
        QVERIFY(!f.pending());
        // A request in pieces is complete with its eighth byte.
        QVERIFY(f.feed(a.left(3)).isEmpty());
        QVERIFY(f.feed(a.mid(3, 4)).isEmpty());
        QCOMPARE(f.feed(a.mid(7)), QList<QByteArray>{a});
        // Other functions and damaged requests end with the silence.
        const QByteArray longer = frame({1, 0x10, 0, 0, 0, 1, 2, 0, 9});
        QVERIFY(f.feed(longer).isEmpty());
        QCOMPARE(f.flush(), longer);
        QVERIFY(f.feed(QByteArray("\xFF", 1) + a).isEmpty());
        QCOMPARE(f.flush().size(), 9);
    }

    void commandLine() {
        SimOptions o;
        QString error;
        const auto parse = [&](const char *args) {
            o = SimOptions();
            error.clear();
            return parseSimOptions(QString::fromLatin1(args).split(u' '), &o, &error);
        };
        QVERIFY(
            parse("--serial /tmp/x --tcp 1234 --modules 4,5 --baud 19200 --drop 0.1 --bad-crc 0.2 "
                  "--late 30 --split 40 --noise 0.05 --seed 9"));
        const FaultOptions &f = o.faults;
        QCOMPARE(std::tuple(o.serialPath, o.tcpHost, o.tcpPort, o.baud, o.seedGiven, o.seed),
                 std::tuple(QStringLiteral("/tmp/x"), QStringLiteral("127.0.0.1"), 1234, 19200,
                            true, 9u));
        QCOMPARE(std::tuple(f.drop, f.badCrc, f.noise, f.lateMs, f.splitMs),
                 std::tuple(0.1, 0.2, 0.05, 30, 40));
        QCOMPARE(o.modules, (QList<int>{4, 5}));
        QVERIFY(parse("--tcp 0.0.0.0:1502"));
        QCOMPARE(std::tuple(o.tcpHost, o.tcpPort, o.baud, o.modules),
                 std::tuple(QStringLiteral("0.0.0.0"), 1502, 9600, QList<int>{1, 2, 3}));
        QVERIFY(parse("--help"));
        for (const char *bad :
             {"--modules 1", "--tcp 1 --drop 1.5", "--tcp 1 --modules 0,1", "--tcp x", "--serial",
              "--tcp 1 --fast 1", "--tcp 1 --set 9:1:1", "--tcp 1 --set 3:-5",
              "--tcp 1 --set 3:-5:101", "--tcp 1 --ramp 3:1:2:0", "--tcp 1 --ramp 3:a:2:10"})
            QVERIFY2(!parse(bad) && !error.isEmpty(), bad);

        // --set holds a module's readings; --ramp takes its temperature from one
        // value to the other and back, from its first request on; the other
        // modules drift as before.
        QVERIFY(parse("--tcp 0 --set 2:30.5:12 --ramp 3:-2:-5:40"));
        SimBus bus(o.modules, 9600, {}, 4);
        applyDrives(bus, o);
        auto reading = [&](int address, qint64 atMs) {
            const Measurement m =
                decodeMeasurement(bus.handle(measurementRequest(address), atMs).bytes);
            return m.temperatureText() + "/" + m.humidityText();
        };
        QStringList ramp;
        for (qint64 s : {0, 10, 20, 30, 40, 60, 80, 100}) {
            QCOMPARE(reading(2, 5000 + s * 1000 * 60), QStringLiteral("30.5/12"));
            ramp << reading(3, 5000 + s * 1000).section('/', 0, 0);
        }
        QCOMPARE(ramp, (QStringList{"-2", "-2.8", "-3.5", "-4.3", "-5", "-3.5", "-2", "-3.5"}));
        const QString before = reading(1, 7000 * 1000);
        QVERIFY(reading(1, 9000 * 1000) != before);
    }

    void serialAndTcpShareOneBus() {
        // At 1200 bit/s, where the line timing shows.
        SimProcess sim(SimProcess::SerialAndTcp,
                       {QStringLiteral("--baud"), QStringLiteral("1200")});
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

    void keepsForeignFile() {
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
};

QTEST_GUILESS_MAIN(TestQx7Sim)
#include "tst_qx7sim.moc"
