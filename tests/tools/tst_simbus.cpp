#include "SimBus.h"

#include "bus/Frames.h"

#include <QTest>

namespace {
QByteArray frame(std::initializer_list<int> bytes) {
    QByteArray out;
    for (int b : bytes) out.append(char(b));
    return assembleFrame(out);
}

QByteArray body(const SimReply &r) {
    return r.bytes.left(r.bytes.size() - 2);
}

SimBus plainBus(const FaultOptions &faults = {}) {
    return SimBus({1, 2, 3}, 9600, faults, 7);
}
}  // namespace

class TestSimBus : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void measurement();
    void readInputRegisters_data();
    void readInputRegisters();
    void readHoldingRegisters_data();
    void readHoldingRegisters();
    void writeRegisters();
    void addressChangeAfterEcho();
    void silence_data();
    void silence();
    void broadcastWrite();
    void faults_data();
    void faults();
    void faultShareAndSeed();
    void driftStaysRealistic();
    void lineTime();
    void framer();
    void commandLine_data();
    void commandLine();
};

void TestSimBus::measurement() {
    SimBus bus = plainBus();
    for (quint8 address : {1, 2, 3}) {
        const SimReply r = bus.handle(measurementRequest(address), 0);
        QCOMPARE(r.bytes.size(), modbus::kMeasurementReplyLength);
        QVERIFY(crcMatches(r.bytes));
        const ReplyCheck check = checkMeasurementFrame(r.bytes, address);
        QVERIFY(check.ok());
        const SimModule *m = bus.module(address);
        QCOMPARE(check.measurement().temperatureRaw, m->temperatureRaw());
        QCOMPARE(check.measurement().humidityRaw, m->humidityRaw());
        QVERIFY(r.delayMs >= 1 && r.delayMs < 20);  // a module turns round in a few ms
        QVERIFY(r.log.contains(
            QStringLiteral("-> %1").arg(QString::number(address).rightJustified(2, u'0'))));
    }
    // The third module sits in a cold room: below zero, as a signed register.
    const SimReply cold = bus.handle(measurementRequest(3), 0);
    QVERIFY(decodeMeasurement(cold.bytes).temperatureRaw < 0);
    QCOMPARE(quint8(cold.bytes[3]), quint8(0xFF));
}

void TestSimBus::readInputRegisters_data() {
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("expected");  // reply without address and CRC; values masked out
    QTest::newRow("humidity only") << 1 << 1 << QByteArray("\x04\x02", 2);
    QTest::newRow("temperature only") << 0 << 1 << QByteArray("\x04\x02", 2);
    QTest::newRow("beyond humidity") << 1 << 2 << QByteArray("\x84\x02", 2);
    QTest::newRow("register 2") << 2 << 1 << QByteArray("\x84\x02", 2);
    QTest::newRow("count 0") << 0 << 0 << QByteArray("\x84\x03", 2);
}

void TestSimBus::readInputRegisters() {
    QFETCH(int, first);
    QFETCH(int, count);
    QFETCH(QByteArray, expected);
    SimBus bus = plainBus();
    const SimReply r = bus.handle(frame({1, 4, 0, first, 0, count}), 0);
    QVERIFY(crcMatches(r.bytes));
    QCOMPARE(r.bytes.mid(1, 2), expected);
    if (quint8(expected[0]) == 0x04) {
        QCOMPARE(r.bytes.size(), 7);
        const SimModule *m = bus.module(1);
        const quint16 value = quint16(quint8(r.bytes[3]) << 8 | quint8(r.bytes[4]));
        QCOMPARE(value, first == 0 ? quint16(m->temperatureRaw()) : m->humidityRaw());
    } else {
        QCOMPARE(r.bytes.size(), 5);
    }
}

void TestSimBus::readHoldingRegisters_data() {
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("expected");  // reply without CRC
    QTest::newRow("address") << 0x00 << 1 << frame({2, 3, 2, 0, 2}).left(5);
    QTest::newRow("speed code of 9600") << 0x01 << 1 << frame({2, 3, 2, 0, 3}).left(5);
    QTest::newRow("model") << 0x02 << 1 << frame({2, 3, 2, 0, 7}).left(5);
    QTest::newRow("turnaround") << 0x0D << 1 << frame({2, 3, 2, 0, 5}).left(5);
    QTest::newRow("three at once") << 0x00 << 3 << frame({2, 3, 6, 0, 2, 0, 3, 0, 7}).left(9);
    QTest::newRow("unknown register") << 0x03 << 1 << frame({2, 0x83, 2}).left(3);
    QTest::newRow("run into a gap") << 0x02 << 2 << frame({2, 0x83, 2}).left(3);
}

void TestSimBus::readHoldingRegisters() {
    QFETCH(int, reg);
    QFETCH(int, count);
    QFETCH(QByteArray, expected);
    SimBus bus = plainBus();
    const SimReply r = bus.handle(frame({2, 3, 0, reg, 0, count}), 0);
    QVERIFY(crcMatches(r.bytes));
    QCOMPARE(body(r), expected);
}

void TestSimBus::writeRegisters() {
    SimBus bus = plainBus();
    struct Case {
        quint16 reg;
        quint16 value;
        quint16 SimModule::*field;
    };
    const Case cases[] = {{modbus::kRegSpeed, 4, &SimModule::speedCode},
                          {modbus::kRegModel, 0x1234, &SimModule::model},
                          {modbus::kRegTurnaround, 12, &SimModule::turnaround}};
    for (const Case &c : cases) {
        const QByteArray request = writeRegisterRequest(1, c.reg, c.value);
        const SimReply r = bus.handle(request, 0);
        QCOMPARE(r.bytes, request);  // the echo
        QCOMPARE(bus.module(1)->*c.field, c.value);
        const SimReply back = bus.handle(readRegisterRequest(1, c.reg), 0);
        QCOMPARE(body(back), frame({1, 3, 2, c.value >> 8, c.value & 0xFF}).left(5));
    }
    // A longer turnaround shows in the reply's delay.
    QCOMPARE(bus.handle(measurementRequest(1), 0).delayMs, 12);
    // Register without a meaning: exception, nothing changes.
    const SimReply bad = bus.handle(writeRegisterRequest(1, 0x0005, 1), 0);
    QCOMPARE(body(bad), frame({1, 0x86, 2}).left(3));
}

void TestSimBus::addressChangeAfterEcho() {
    SimBus bus = plainBus();
    const QByteArray change = writeRegisterRequest(2, modbus::kRegAddress, 9);
    const SimReply echo = bus.handle(change, 0);
    QCOMPARE(echo.bytes, change);  // still from address 2
    QVERIFY(bus.handle(measurementRequest(2), 0).bytes.isEmpty());
    QVERIFY(checkMeasurementFrame(bus.handle(measurementRequest(9), 0).bytes, 9).ok());
    QCOMPARE(body(bus.handle(readRegisterRequest(9, modbus::kRegAddress), 0)),
             frame({9, 3, 2, 0, 9}).left(5));

    // Address 0 is not a module address: refused, module keeps 9.
    const SimReply refused = bus.handle(writeRegisterRequest(9, modbus::kRegAddress, 0), 0);
    QCOMPARE(body(refused), frame({9, 0x86, 3}).left(3));
    QVERIFY(bus.module(9));
}

void TestSimBus::silence_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QString>("why");
    QByteArray badCrc = measurementRequest(1);
    badCrc[7] = char(badCrc[7] ^ 1);
    QTest::newRow("bad CRC") << badCrc << "bad CRC";
    QTest::newRow("no such module") << measurementRequest(4) << "no module 4";
    QTest::newRow("too short") << QByteArray("\x01\x04", 2) << "bad CRC";
    QTest::newRow("broadcast read") << measurementRequest(0) << "broadcast";
}

void TestSimBus::silence() {
    QFETCH(QByteArray, request);
    QFETCH(QString, why);
    SimBus bus = plainBus();
    const SimReply r = bus.handle(request, 0);
    QVERIFY(r.bytes.isEmpty());
    QVERIFY2(r.log.endsWith(QStringLiteral("silent (%1)").arg(why)), qPrintable(r.log));
}

void TestSimBus::broadcastWrite() {
    SimBus bus = plainBus();
    QVERIFY(bus.handle(writeRegisterRequest(0, modbus::kRegTurnaround, 9), 0).bytes.isEmpty());
    for (const SimModule &m : bus.modules()) QCOMPARE(m.turnaround, quint16(9));
}

void TestSimBus::faults_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<bool>("exceptionReply");
    QTest::newRow("measurement") << measurementRequest(1) << false;
    QTest::newRow("unknown function 05") << frame({1, 5, 0, 0, 0xFF, 0}) << true;
    QTest::newRow("function 10") << frame({1, 0x10, 0, 0, 0, 1, 2, 0, 9}) << true;
}

void TestSimBus::faults() {
    QFETCH(QByteArray, request);
    QFETCH(bool, exceptionReply);
    const QByteArray clean = plainBus().handle(request, 0).bytes;
    QVERIFY(crcMatches(clean));
    if (exceptionReply) {
        QCOMPARE(clean.size(), 5);
        QCOMPARE(quint8(clean[1]), quint8(request[1] | 0x80));
        QCOMPARE(quint8(clean[2]), simex::kIllegalFunction);
    }

    FaultOptions f;
    f.drop = 1;
    SimReply r = plainBus(f).handle(request, 0);
    QVERIFY(r.bytes.isEmpty());
    QVERIFY(r.log.contains(u"dropped"));

    f = {};
    f.badCrc = 1;
    r = plainBus(f).handle(request, 0);
    QCOMPARE(r.bytes.size(), clean.size());
    QCOMPARE(body(r), clean.left(clean.size() - 2));
    QVERIFY(!crcMatches(r.bytes));

    f = {};
    f.noise = 1;
    r = plainBus(f).handle(request, 0);
    const qsizetype extra = r.bytes.size() - clean.size();
    QVERIFY(extra >= 1 && extra <= 3);
    bool contiguous = false;  // removing one run of stray bytes gives the clean reply
    for (qsizetype at = 0; at <= clean.size(); ++at)
        contiguous = contiguous || QByteArray(r.bytes).remove(at, extra) == clean;
    QVERIFY(contiguous);

    f = {};
    f.lateMs = 120;
    f.splitMs = 40;
    r = plainBus(f).handle(request, 0);
    QCOMPARE(r.bytes, clean);
    QCOMPARE(r.delayMs, plainBus().handle(request, 0).delayMs + 120);
    QCOMPARE(r.splitAt, int(clean.size() / 2));
    QCOMPARE(r.pauseMs, 40);
}

void TestSimBus::faultShareAndSeed() {
    FaultOptions f;
    f.drop = 0.3;
    f.badCrc = 0.2;
    auto run = [&](quint32 seed) {
        SimBus bus({1}, 9600, f, seed);
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

void TestSimBus::driftStaysRealistic() {
    SimBus bus({1, 2, 3}, 9600, {}, 3);
    SimModule &humid = bus.modules()[2];
    humid.baseHumidity = humid.humidity = 99.5;
    const qint16 start = bus.modules()[0].temperatureRaw();
    bool moved = false;
    bool belowZero = false;
    for (int i = 1; i <= 5000; ++i) {
        const qint64 now = i * 60000LL;  // a reading a minute, three and a half days
        for (SimModule &m : bus.modules()) {
            bus.drift(m, now);
            QVERIFY(m.humidityRaw() <= 1000);
            QVERIFY(qAbs(m.temperature - m.baseTemperature) < 5);
        }
        moved = moved || bus.modules()[0].temperatureRaw() != start;
        belowZero = belowZero || bus.modules()[2].temperatureRaw() < 0;
    }
    QVERIFY(moved);
    QVERIFY(belowZero);
    // Slowly: within one second a reading hardly changes.
    SimModule &m = bus.modules()[0];
    const double before = m.temperature;
    bus.drift(m, 5000 * 60000LL + 1000);
    QVERIFY(qAbs(m.temperature - before) < 0.5);
}

void TestSimBus::lineTime() {
    QCOMPARE(SimBus({1}, 9600, {}, 1).lineMicros(9), qint64(9375));
    QCOMPARE(SimBus({1}, 1200, {}, 1).lineMicros(8), qint64(66666));
    QCOMPARE(SimBus::speedCodeFor(9600), quint16(3));
    QCOMPARE(SimBus::speedCodeFor(1200), quint16(0));
    QCOMPARE(SimBus::speedCodeFor(115200), quint16(7));
}

void TestSimBus::framer() {
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

void TestSimBus::commandLine_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("ok");
    QTest::newRow("everything") << QStringList{"--serial",  "/tmp/x", "--tcp",     "1234",
                                               "--modules", "4,5",    "--baud",    "19200",
                                               "--drop",    "0.1",    "--bad-crc", "0.2",
                                               "--late",    "30",     "--split",   "40",
                                               "--noise",   "0.05",   "--seed",    "9"}
                                << true;
    QTest::newRow("tcp only, other host") << QStringList{"--tcp", "0.0.0.0:1502"} << true;
    QTest::newRow("help alone") << QStringList{"--help"} << true;
    QTest::newRow("nothing to serve") << QStringList{"--modules", "1"} << false;
    QTest::newRow("share above 1") << QStringList{"--tcp", "1", "--drop", "1.5"} << false;
    QTest::newRow("address 0") << QStringList{"--tcp", "1", "--modules", "0,1"} << false;
    QTest::newRow("port text") << QStringList{"--tcp", "x"} << false;
    QTest::newRow("missing value") << QStringList{"--serial"} << false;
    QTest::newRow("unknown") << QStringList{"--tcp", "1", "--fast", "1"} << false;
}

void TestSimBus::commandLine() {
    QFETCH(QStringList, args);
    QFETCH(bool, ok);
    SimOptions o;
    QString error;
    QCOMPARE(parseSimOptions(args, &o, &error), ok);
    QCOMPARE(error.isEmpty(), ok);
    if (QByteArray(QTest::currentDataTag()) == "everything") {
        QCOMPARE(o.serialPath, QStringLiteral("/tmp/x"));
        QCOMPARE(o.tcpHost, QStringLiteral("127.0.0.1"));
        QCOMPARE(o.tcpPort, 1234);
        QCOMPARE(o.modules, (QList<int>{4, 5}));
        QCOMPARE(o.baud, 19200);
        QCOMPARE(o.faults.drop, 0.1);
        QCOMPARE(o.faults.badCrc, 0.2);
        QCOMPARE(o.faults.lateMs, 30);
        QCOMPARE(o.faults.splitMs, 40);
        QCOMPARE(o.faults.noise, 0.05);
        QVERIFY(o.seedGiven);
        QCOMPARE(o.seed, 9u);
    } else if (QByteArray(QTest::currentDataTag()) == "tcp only, other host") {
        QCOMPARE(o.tcpHost, QStringLiteral("0.0.0.0"));
        QCOMPARE(o.tcpPort, 1502);
        QCOMPARE(o.modules, (QList<int>{1, 2, 3}));
        QCOMPARE(o.baud, 9600);
    }
}

QTEST_GUILESS_MAIN(TestSimBus)
#include "tst_simbus.moc"
